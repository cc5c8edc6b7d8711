// The settings file: any file contents, then a read and a write of names and
// a value taken from the input.
//
// Input layout (FuzzedDataProvider): section, key, value, a second section
// and key, then the rest is the file.
//
// Properties checked besides memory safety:
//  - reading an existing, readable file always succeeds;
//  - a refused write leaves the file byte for byte as it was;
//  - a stored value reads back exactly, and another key's value is unchanged;
//  - storing the same value twice leaves the file as the first write did.

#include "FuzzSupport.h"

#include "platform/ProfileFile.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

QString Trimmed(const QString& s)
{
    int b = 0, e = int(s.size());
    while (b < e && (s[b] == u' ' || s[b] == u'\t'))
        ++b;
    while (e > b && (s[e - 1] == u' ' || s[e - 1] == u'\t'))
        --e;
    return s.mid(b, e - b);
}

bool SameName(const QString& a, const QString& b)
{
    return Trimmed(a).compare(Trimmed(b), Qt::CaseInsensitive) == 0;
}

QString Text(FuzzedDataProvider& in, size_t maxLength)
{
    return QString::fromStdString(in.ConsumeRandomLengthString(maxLength));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const QString section = Text(in, 24);
    const QString key = Text(in, 24);
    const QString value = Text(in, 64);
    const QString otherSection = Text(in, 24);
    const QString otherKey = Text(in, 24);
    const std::string contents = in.ConsumeRemainingBytesAsString();

    const std::string path = fuzz::ScratchDir() + "/settings.ini";
    FUZZ_CHECK(fuzz::WriteWhole(path, contents.data(), contents.size()));
    const QString file = QString::fromStdString(path);

    QString before, otherBefore, error;
    FUZZ_CHECK(ProfileFile::ReadString(file, section, key, before, &error));
    FUZZ_CHECK(ProfileFile::ReadString(file, otherSection, otherKey, otherBefore, &error));

    if (!ProfileFile::WriteString(file, section, key, value, &error)) {
        FUZZ_CHECK(!error.isEmpty());
        const std::vector<unsigned char> now = fuzz::ReadWhole(path);
        FUZZ_CHECK(std::string(now.begin(), now.end()) == contents);
        return 0;
    }
    QString after, otherAfter;
    FUZZ_CHECK(ProfileFile::ReadString(file, section, key, after, &error));
    FUZZ_CHECK(after == value);
    FUZZ_CHECK(ProfileFile::ReadString(file, otherSection, otherKey, otherAfter, &error));
    if (!(SameName(section, otherSection) && SameName(key, otherKey)))
        FUZZ_CHECK(otherAfter == otherBefore);

    const std::vector<unsigned char> once = fuzz::ReadWhole(path);
    FUZZ_CHECK(ProfileFile::WriteString(file, section, key, value, &error));
    FUZZ_CHECK(fuzz::ReadWhole(path) == once);
    return 0;
}
