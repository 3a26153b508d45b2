// Draws the window's artwork into <directory>/images and <directory>/symbols:
// the header logo, the maker's logo and the three panel symbols.
// Usage: velocitrix_draw_artwork <artwork directory>

#include <cmath>
#include <cstdio>

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

constexpr double kPi = 3.14159265358979323846;

QImage canvas(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// A rounded tile with a speed gauge and the letters "VX".
QImage headerLogo() {
    const int side = 512;
    QImage image = canvas(side, side);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient tile(0, 0, side, side);
    tile.setColorAt(0.0, QColor(22, 94, 180));
    tile.setColorAt(1.0, QColor(10, 34, 86));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(16, 16, side - 32, side - 32), 96, 96);

    // Gauge: a 240-degree arc with ticks, the last third in orange.
    const QPointF centre(side / 2.0, side * 0.56);
    const double radius = 170;
    const QRectF arcBox(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 90), 26, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(arcBox, -30 * 16, 240 * 16);
    p.setPen(QPen(QColor(255, 150, 30), 26, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(arcBox, -30 * 16, 80 * 16);
    p.setPen(QPen(Qt::white, 6, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i <= 12; ++i) {
        const double angle = (210.0 - 20.0 * i) * kPi / 180.0;
        const QPointF dir(std::cos(angle), -std::sin(angle));
        p.drawLine(centre + dir * (radius - 42), centre + dir * (radius - 22));
    }

    // Needle towards the fast end.
    const double needle = 20.0 * kPi / 180.0;
    const QPointF tip = centre + QPointF(std::cos(needle), -std::sin(needle)) * (radius - 30);
    p.setPen(QPen(QColor(255, 150, 30), 14, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre, tip);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(centre, 22, 22);

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setItalic(true);
    font.setPixelSize(132);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, side * 0.66, side, side * 0.3), Qt::AlignCenter, QStringLiteral("VX"));
    return image;
}

// The maker's wordmark: a ring with an inner dot, then "Orvelle".
QImage makerLogo() {
    const int width = 640, height = 200;
    QImage image = canvas(width, height);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    const QPointF ring(100, 100);
    QRadialGradient fill(ring, 80);
    fill.setColorAt(0.0, QColor(60, 170, 120));
    fill.setColorAt(1.0, QColor(20, 110, 80));
    p.setPen(QPen(fill, 26));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(ring, 66, 66);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 110, 80));
    p.drawEllipse(ring + QPointF(24, -24), 18, 18);

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(96);
    p.setFont(font);
    p.setPen(QColor(40, 50, 60));
    p.drawText(QRectF(190, 0, width - 190, height), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Orvelle"));
    return image;
}

QPen symbolPen(double width) {
    return QPen(QColor(60, 60, 66), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A small desktop computer: a low box with a slot and a power light.
QImage desktopSymbol() {
    QImage image = canvas(64, 64);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(symbolPen(4));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(6, 20, 52, 24), 6, 6);
    p.drawLine(QPointF(14, 48), QPointF(50, 48));
    p.drawLine(QPointF(34, 32), QPointF(48, 32));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 60, 66));
    p.drawEllipse(QPointF(16, 32), 3, 3);
    return image;
}

// A processor: a square die with a ring of pins.
QImage processorSymbol() {
    QImage image = canvas(64, 64);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(symbolPen(4));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(14, 14, 36, 36), 5, 5);
    p.drawRect(QRectF(24, 24, 16, 16));
    for (int i = 0; i < 4; ++i) {
        const double at = 20 + 8 * i;
        p.drawLine(QPointF(at, 4), QPointF(at, 12));
        p.drawLine(QPointF(at, 52), QPointF(at, 60));
        p.drawLine(QPointF(4, at), QPointF(12, at));
        p.drawLine(QPointF(52, at), QPointF(60, at));
    }
    return image;
}

// A memory module: a long board with chips and a row of contacts.
QImage memorySymbol() {
    QImage image = canvas(64, 64);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(symbolPen(4));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(4, 16, 56, 28), 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 60, 66));
    for (int i = 0; i < 4; ++i)
        p.drawRect(QRectF(9 + 12.5 * i, 22, 8, 10));
    p.setPen(symbolPen(3));
    for (int i = 0; i < 8; ++i) {
        const double at = 9 + 6.5 * i;
        p.drawLine(QPointF(at, 46), QPointF(at, 54));
    }
    return image;
}

bool save(const QImage& image, const QString& path) {
    if (image.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "Cannot write %s\n", qPrintable(path));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "Usage: %s <artwork directory>\n", argv[0]);
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    root.mkpath(QStringLiteral("images"));
    root.mkpath(QStringLiteral("symbols"));
    bool ok = true;
    ok &= save(headerLogo(), root.filePath(QStringLiteral("images/vx_headerlogo512.png")));
    ok &= save(makerLogo(), root.filePath(QStringLiteral("images/Orvelle-Logo.png")));
    ok &= save(desktopSymbol(), root.filePath(QStringLiteral("symbols/macmini.png")));
    ok &= save(processorSymbol(), root.filePath(QStringLiteral("symbols/cpu.png")));
    ok &= save(memorySymbol(), root.filePath(QStringLiteral("symbols/memorychip.png")));
    return ok ? 0 : 1;
}
