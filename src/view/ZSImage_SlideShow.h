#pragma once
// TzsiSlideShow: the list of picture files the view shows one at a time.

#include <QObject>

class TZSImage;

class TzsiSlideShow : public QObject
{
    Q_OBJECT
public:
    explicit TzsiSlideShow(TZSImage* AOwner);

    // Forgets every entry and its cached picture.
    void Clear();

private:
    TZSImage* FOwner;
};
