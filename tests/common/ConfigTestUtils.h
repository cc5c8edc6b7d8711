#pragma once
// Helpers for tests of the settings file: real files in a temporary folder, and
// child processes that run without root's privileges or under a file-size limit.

#include <QByteArray>
#include <QString>
#include <functional>
#include <sys/resource.h>

namespace ConfigTest {

// The unprivileged user and group the children switch to when the tests run as root.
constexpr unsigned kNobody = 65534;

QByteArray ReadBytes(const QString& path);
void WriteBytes(const QString& path, const QByteArray& data);

// Runs `body` in a forked child and answers its result (0..255), or -1 when the
// child did not exit normally. With `unprivileged`, a root parent's child gives
// up root for good (user and group nobody, no supplementary groups) first, so
// permission bits apply to it. `fileSizeLimit` caps the size of files the child
// may write; SIGXFSZ is ignored so an oversized write fails instead of killing it.
int RunInChild(const std::function<int()>& body, bool unprivileged, rlim_t fileSizeLimit = RLIM_INFINITY);

// Gives `path` to the unprivileged user (when running as root) and sets its mode.
void GiveToNobody(const QString& path, unsigned mode);

// Names in `dir` other than "." and "..", hidden ones included.
QStringList Entries(const QString& dir);

} // namespace ConfigTest
