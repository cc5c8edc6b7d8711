#include "corpus/PageCorpus.h"

#include <QBuffer>
#include <QFile>
#include <QFont>
#include <QImageReader>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// A public-domain NASA portrait shipped with scikit-image's data.
constexpr const char* kPortraitPath = "/usr/lib/python3/dist-packages/skimage/data/astronaut.png";
constexpr int kPages = 48;

struct Rng {
    uint64_t s;
    explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t Next()
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return uint32_t(s >> 16);
    }
    double Uniform(double a, double b) { return a + (b - a) * (Next() % 1000000) / 1000000.0; }
    int Int(int a, int b) { return a + int(Next() % uint32_t(b - a + 1)); }
    bool Chance(double p) { return Uniform(0, 1) < p; }
};

const char* const kSyllables[] = {"ca", "re", "to", "mi", "na", "di", "co", "la", "ne", "si", "ri", "po", "te",
                                  "va", "lo", "gi", "sta", "per", "con", "zio", "ne", "men", "tra", "des"};

QString Word(Rng& r)
{
    QString w;
    const int n = r.Int(1, 4);
    for (int i = 0; i < n; ++i)
        w += QString::fromLatin1(kSyllables[r.Next() % (sizeof(kSyllables) / sizeof(*kSyllables))]);
    return w;
}

QString Line(Rng& r, int words)
{
    QString s;
    for (int i = 0; i < words; ++i)
        s += (i ? QStringLiteral(" ") : QString()) + Word(r);
    if (!s.isEmpty())
        s[0] = s[0].toUpper();
    return s;
}

struct Layout {
    double mm; // pixels per millimetre
    QRectF page;
};

double Mm(const Layout& l, double v) { return v * l.mm; }

void DrawText(QPainter& p, const Layout& l, double xMm, double yMm, double pt, bool bold, const QString& s)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(std::max(1, int(std::lround(pt * l.mm * 25.4 / 72.0))));
    f.setBold(bold);
    p.setFont(f);
    p.setPen(QColor(25, 25, 25));
    p.drawText(QPointF(l.page.x() + Mm(l, xMm), l.page.y() + Mm(l, yMm)), s);
}

void DrawRule(QPainter& p, const Layout& l, double x0, double y0, double x1, double y1)
{
    p.setPen(QPen(QColor(30, 30, 30), std::max(1.0, Mm(l, 0.3))));
    p.drawLine(QPointF(l.page.x() + Mm(l, x0), l.page.y() + Mm(l, y0)), QPointF(l.page.x() + Mm(l, x1), l.page.y() + Mm(l, y1)));
}

// A hand's name: a few joined loops drawn as cubic curves, a flourish underneath.
std::vector<QPointF> DrawSignature(QPainter& p, const Layout& l, QRectF boxMm, Rng& r)
{
    std::vector<QPointF> ink;
    const QColor pen = r.Chance(0.5) ? QColor(20, 30, 110) : QColor(15, 15, 20);
    const double width = std::max(1.0, Mm(l, r.Uniform(0.35, 0.7)));
    p.setPen(QPen(pen, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    auto at = [&](double fx, double fy) {
        return QPointF(l.page.x() + Mm(l, boxMm.x() + fx * boxMm.width()), l.page.y() + Mm(l, boxMm.y() + fy * boxMm.height()));
    };
    // Each word: a capital with a tall loop, then small joined letters whose
    // loops rise and fall, now and then a tall or deep one.
    const int words = r.Int(1, 2);
    double x = 0.0;
    for (int w = 0; w < words; ++w) {
        const double span = (w + 1 == words) ? 1.0 - x : r.Uniform(0.35, 0.55);
        const double base = r.Uniform(0.62, 0.75);
        QPainterPath path(at(x, base));
        path.cubicTo(at(x + 0.02, r.Uniform(-0.1, 0.05)), at(x + 0.08, r.Uniform(-0.05, 0.1)), at(x + 0.04, base));
        const int letters = r.Int(5, 9);
        double cx = x + 0.04;
        for (int i = 0; i < letters; ++i) {
            const double step = (span - 0.04) / letters;
            const double top = r.Chance(0.25) ? r.Uniform(0.0, 0.2) : r.Uniform(0.3, 0.5);
            const double bottom = r.Chance(0.15) ? r.Uniform(0.95, 1.1) : base + r.Uniform(0.0, 0.08);
            path.cubicTo(at(cx + step * 0.9, top), at(cx - step * 0.2, top), at(cx + step * 0.3, bottom));
            path.cubicTo(at(cx + step * 0.5, bottom + 0.02), at(cx + step * 0.8, base), at(cx + step, base - 0.05));
            cx += step;
        }
        p.drawPath(path);
        for (int k = 0; k <= 400; ++k)
            ink.push_back(path.pointAtPercent(k / 400.0));
        x += span + 0.04;
        if (x > 0.9)
            break;
    }
    if (r.Chance(0.6)) {
        QPainterPath flourish(at(r.Uniform(0.0, 0.2), r.Uniform(0.75, 0.95)));
        flourish.cubicTo(at(0.4, r.Uniform(0.85, 1.0)), at(0.7, r.Uniform(0.7, 0.9)), at(r.Uniform(0.8, 1.0), r.Uniform(0.6, 0.9)));
        p.drawPath(flourish);
        for (int k = 0; k <= 100; ++k)
            ink.push_back(flourish.pointAtPercent(k / 100.0));
    }
    // The truth is the ink with its width.
    std::vector<QPointF> edged;
    for (const QPointF& q : ink)
        for (int dx = -1; dx <= 1; dx += 2)
            for (int dy = -1; dy <= 1; dy += 2)
                edged.push_back(q + QPointF(dx * width / 2, dy * width / 2));
    return edged;
}

void AddScannerLook(QImage& img, Rng& r, bool photographed)
{
    const int w = img.width();
    const int h = img.height();
    const double gx = r.Uniform(-0.12, 0.12);
    const double gy = r.Uniform(-0.12, 0.12);
    const double dim = photographed ? r.Uniform(0.15, 0.3) : r.Uniform(0.0, 0.12);
    const int noise = photographed ? 10 : 6;
    uint32_t seed = r.Next() | 1;
    for (int y = 0; y < h; ++y) {
        uchar* row = img.scanLine(y);
        const double fy = double(y) / h - 0.5;
        for (int x = 0; x < w; ++x) {
            const double fx = double(x) / w - 0.5;
            const double light = 1.0 + gx * fx + gy * fy - dim * (fx * fx + fy * fy) * 2;
            seed ^= seed << 13;
            seed ^= seed >> 17;
            seed ^= seed << 5;
            const int n = int(seed % uint32_t(2 * noise + 1)) - noise;
            for (int c = 0; c < 3; ++c)
                row[x * 3 + c] = uchar(std::clamp(int(row[x * 3 + c] * light) + n, 0, 255));
        }
    }
}

QRect BoxOf(const std::vector<QPointF>& pts, const QTransform& t)
{
    double x0 = 1e18, y0 = 1e18, x1 = -1e18, y1 = -1e18;
    for (const QPointF& q : pts) {
        const QPointF m = t.map(q);
        x0 = std::min(x0, m.x());
        y0 = std::min(y0, m.y());
        x1 = std::max(x1, m.x());
        y1 = std::max(y1, m.y());
    }
    return QRectF(QPointF(x0, y0), QPointF(x1, y1)).toAlignedRect();
}

std::vector<QPointF> Corners(const QRectF& r) { return {r.topLeft(), r.topRight(), r.bottomLeft(), r.bottomRight()}; }

// A 600 dpi page is larger than Qt's default reading limit.
QImage DecodeJpeg(const QByteArray& jpeg)
{
    QBuffer buf;
    buf.setData(jpeg);
    buf.open(QIODevice::ReadOnly);
    QImageReader reader(&buf, "JPG");
    reader.setAllocationLimit(0);
    return reader.read();
}

CorpusPage Make(int n, int dpi)
{
    Rng r(uint64_t(n) + 17);
    QImageReader::setAllocationLimit(0); // a 600 dpi page is over Qt's default
    CorpusPage out;
    out.dpi = dpi;
    out.photographed = n % 12 == 11;
    out.hasPhoto = n % 8 != 5;
    out.hasSignature = n % 8 != 6;
    out.skewDegrees = std::round(r.Uniform(-6.0, 6.0) * 100) / 100;
    const double mm = dpi / 25.4;
    const QSize a4(int(std::lround(210 * mm)), int(std::lround(297 * mm)));
    QImage canvas;
    Layout l{mm, QRectF(0, 0, a4.width(), a4.height())};
    if (out.photographed) {
        // A page laid on a desk and photographed square on: the desk shows round it.
        const double pageScale = r.Uniform(0.78, 0.88);
        l.mm = mm * pageScale;
        l.page = QRectF(a4.width() * (1 - pageScale) / 2 + r.Uniform(-20, 20), a4.height() * (1 - pageScale) / 2 + r.Uniform(-20, 20),
                        210 * l.mm, 297 * l.mm);
        out.skewDegrees = std::round(r.Uniform(-3.0, 3.0) * 100) / 100;
    }
    canvas = QImage(a4, QImage::Format_RGB32);
    canvas.fill(out.photographed ? QColor(92, 74, 58) : QColor(250, 250, 248));
    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    if (out.photographed)
        p.fillRect(l.page, QColor(246, 245, 240));

    // Layout: the photo on the left or right, high or in the middle; the signature below.
    const bool photoRight = r.Chance(0.6);
    const double photoW = r.Uniform(30, 42);
    const double photoH = photoW * r.Uniform(1.22, 1.32);
    const double photoX = photoRight ? 210 - 20 - photoW - r.Uniform(0, 15) : 20 + r.Uniform(0, 15);
    const double photoY = r.Chance(0.7) ? r.Uniform(40, 60) : r.Uniform(90, 130);
    const double textX = photoRight ? 20 : photoX + photoW + 10;
    const double textR = photoRight ? photoX - 8 : 190;

    DrawText(p, l, 20, 22, r.Uniform(13, 16), true, Line(r, r.Int(2, 4)).toUpper());
    DrawRule(p, l, 20, 27, 190, 27);
    double y = 38;
    for (int i = 0; i < 9; ++i, y += r.Uniform(8, 11)) {
        const QString label = Word(r) + QStringLiteral(":");
        DrawText(p, l, textX, y, r.Uniform(9.5, 11), false, label);
        if (r.Chance(0.6))
            DrawRule(p, l, textX + 30, y + 1, textR, y + 1);
        else
            DrawText(p, l, textX + 30, y, 10, false, Line(r, int((textR - textX - 30) / 18)));
    }
    y = std::max(y, photoY + photoH + 8);
    const int paragraphs = r.Int(4, 9);
    for (int i = 0; i < paragraphs; ++i, y += 6)
        DrawText(p, l, 20, y, 10, false, Line(r, r.Int(8, 12)));
    // A table of rules.
    if (r.Chance(0.6)) {
        const double t0 = y + 2;
        for (int i = 0; i < 4; ++i)
            DrawRule(p, l, 20, t0 + i * 8, 190, t0 + i * 8);
        for (double x : {20.0, 70.0, 130.0, 190.0})
            DrawRule(p, l, x, t0, x, t0 + 24);
        for (int i = 0; i < 3; ++i)
            for (double x : {22.0, 72.0, 132.0})
                DrawText(p, l, x, t0 + i * 8 + 6, 9, false, Word(r));
        y = t0 + 30;
    }
    // Signature block.
    const double sigY = std::max(y + 12, r.Uniform(230, 250));
    const double sigX = r.Chance(0.5) ? r.Uniform(110, 125) : r.Uniform(20, 35);
    DrawText(p, l, sigX, sigY + 26, 9, false, QStringLiteral("Firma del titolare"));
    DrawRule(p, l, sigX, sigY + 20, sigX + 70, sigY + 20);
    std::vector<QPointF> ink;
    if (out.hasSignature) {
        const QRectF box(sigX + r.Uniform(2, 8), sigY + r.Uniform(0, 4), r.Uniform(38, 60), r.Uniform(11, 18));
        ink = DrawSignature(p, l, box, r);
    }
    DrawText(p, l, 20, 285, 8, false, Line(r, 10));

    QRectF photoPx;
    if (out.hasPhoto) {
        static const QImage portrait = CorpusPortrait();
        photoPx = QRectF(l.page.x() + Mm(l, photoX), l.page.y() + Mm(l, photoY), Mm(l, photoW), Mm(l, photoH));
        if (!portrait.isNull()) {
            // Head and shoulders, cut a little differently each time.
            const double cw = r.Uniform(230, 280);
            const double ch = cw * photoH / photoW;
            const QRectF crop(225 - cw / 2 + r.Uniform(-12, 12), r.Uniform(0, 20), cw, std::min(ch, 480.0));
            // A glued photo's edge throws a thin shadow on the paper.
            p.fillRect(photoPx.translated(Mm(l, 0.25), Mm(l, 0.25)), QColor(150, 150, 150));
            p.drawImage(photoPx, portrait, crop);
        }
    }
    p.end();

    // Skew: the page turned about its middle, as a sheet fed crooked.
    QTransform t;
    t.translate(a4.width() / 2.0, a4.height() / 2.0);
    t.rotate(out.skewDegrees);
    t.translate(-a4.width() / 2.0, -a4.height() / 2.0);
    QImage turned(a4, QImage::Format_RGB32);
    turned.fill(out.photographed ? QColor(92, 74, 58) : QColor(250, 250, 248));
    {
        QPainter q(&turned);
        q.setRenderHint(QPainter::SmoothPixmapTransform);
        q.setTransform(t);
        q.drawImage(0, 0, canvas);
    }
    canvas = QImage();
    if (out.hasPhoto)
        out.photo = BoxOf(Corners(photoPx), t);
    if (out.hasSignature)
        out.signature = BoxOf(ink, t);

    QImage bgr = turned.convertToFormat(QImage::Format_BGR888);
    turned = QImage();
    AddScannerLook(bgr, r, out.photographed);
    QBuffer buf(&out.jpeg);
    buf.open(QIODevice::WriteOnly);
    bgr.save(&buf, "JPG", r.Int(70, 88));
    out.picture = DecodeJpeg(out.jpeg).convertToFormat(QImage::Format_BGR888);
    out.name = QStringLiteral("pagina%1_%2dpi%3%4%5").arg(n, 2, 10, QLatin1Char('0')).arg(dpi)
                   .arg(out.photographed ? QStringLiteral("_foto-doc") : QString())
                   .arg(out.hasPhoto ? QString() : QStringLiteral("_senza-foto"))
                   .arg(out.hasSignature ? QString() : QStringLiteral("_senza-firma"));
    return out;
}

} // namespace

int CorpusSize() { return kPages; }

QImage CorpusPortrait()
{
    QImage img(QString::fromLatin1(kPortraitPath));
    return img.isNull() ? img : img.convertToFormat(QImage::Format_RGB32);
}

CorpusPage MakeCorpusPage(int n)
{
    static const int kDpis[] = {150, 200, 300, 600};
    // 600 dpi pages are costly to make: one in eight, the rest spread over the others.
    const int dpi = n % 8 == 3 ? 600 : kDpis[(n + n / 4) % 3];
    return Make(n, dpi);
}

CorpusPage MakeCorpusPageAt(int n, int dpi) { return Make(n, dpi); }

double CorpusIoU(const QRect& a, const QRect& b)
{
    const QRect i = a.intersected(b);
    if (i.isEmpty())
        return 0;
    const double inter = double(i.width()) * i.height();
    return inter / (double(a.width()) * a.height() + double(b.width()) * b.height() - inter);
}
