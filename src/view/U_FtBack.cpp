#include "view/U_FtBack.h"

TFormTBack* FormTBack = nullptr;

TFormTBack::TFormTBack(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("FormTBack"));
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowOpacity(0.85);
    resize(300, 44);
}

void TFormTBack::ImgLensNMouseDown(TMouseButton, TShiftState, int, int) {}

void TFormTBack::ImgLensUpdate() {}

void TFormTBack::ImgRotateMouseUp(TMouseButton, TShiftState, int, int) {}

void TFormTBack::BtRotatePClick() {}

void TFormTBack::BtRotateMClick() {}
