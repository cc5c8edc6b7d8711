#include "platform/Cursors.h"

#include <map>

namespace {
std::map<TCursor, QCursor>& customCursors()
{
    static std::map<TCursor, QCursor> table;
    return table;
}
} // namespace

namespace Cursors {

void Register(TCursor id, const QCursor& cursor) { customCursors()[id] = cursor; }

bool IsRegistered(TCursor id) { return customCursors().count(id) != 0; }

QCursor Get(TCursor id)
{
    auto it = customCursors().find(id);
    if (it != customCursors().end())
        return it->second;
    switch (id) {
    case crNone: return QCursor(Qt::BlankCursor);
    case crCross: return QCursor(Qt::CrossCursor);
    case crIBeam: return QCursor(Qt::IBeamCursor);
    case crSizeNESW: return QCursor(Qt::SizeBDiagCursor);
    case crSizeNS: return QCursor(Qt::SizeVerCursor);
    case crSizeNWSE: return QCursor(Qt::SizeFDiagCursor);
    case crSizeWE: return QCursor(Qt::SizeHorCursor);
    case crUpArrow: return QCursor(Qt::UpArrowCursor);
    case crHourGlass: return QCursor(Qt::WaitCursor);
    case crNo: return QCursor(Qt::ForbiddenCursor);
    case crHandPoint: return QCursor(Qt::PointingHandCursor);
    case crSizeAll: return QCursor(Qt::SizeAllCursor);
    default: return QCursor(Qt::ArrowCursor);
    }
}

} // namespace Cursors
