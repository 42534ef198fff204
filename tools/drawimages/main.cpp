// Draws the pictures that Quillon Desk carries in its resources (window icon,
// about-window background, wordmark, close button, main form background) and
// writes them into the folder given on the command line.
//
// Everything is drawn with QPainter from plain shapes and a stock sans-serif
// font, so the images can be regenerated at any time from this file alone.

#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPointF>
#include <QPolygonF>
#include <QRadialGradient>
#include <QRectF>
#include <QString>

#include <cstdio>

namespace {

// Colours shared by the pictures so that icon, wordmark and backgrounds match.
const QColor kInk(0x23, 0x3a, 0x55);       // dark slate blue: housing, text
const QColor kAccent(0x2f, 0x8f, 0x5b);    // green: upgrade badge, wordmark accent
const QColor kGlass(0x4a, 0x90, 0xc8);     // lens highlight
const QColor kPaleField(0xf7, 0xfa, 0xfd);

QImage transparentImage(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

QFont sansFont(qreal pointSize, int weight)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(pointSize);
    f.setWeight(weight);
    return f;
}

// A small dome camera: mounting plate, dome with a lens, and the green
// up-arrow badge that stands for a firmware upgrade. Drawn on a 64-unit grid
// scaled into the square `box`, so the icon and the wordmark share one emblem.
void paintCameraEmblem(QPainter &p, const QRectF &box, bool withArrow)
{
    const qreal s = box.width() / 64.0;  // the design grid is 64 x 64
    p.save();
    p.translate(box.topLeft());
    p.scale(s, s);
    p.setRenderHint(QPainter::Antialiasing, true);

    // Mounting plate.
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawRoundedRect(QRectF(8, 8, 48, 9), 3, 3);

    // Dome: lower half of an ellipse hanging from the plate.
    QPainterPath dome;
    dome.moveTo(12, 17);
    dome.lineTo(52, 17);
    dome.arcTo(QRectF(12, -3, 40, 40), 0, -180);
    dome.closeSubpath();
    QLinearGradient domeShade(QPointF(12, 17), QPointF(52, 37));
    domeShade.setColorAt(0.0, QColor(0x5b, 0x71, 0x8a));
    domeShade.setColorAt(1.0, kInk);
    p.setBrush(domeShade);
    p.drawPath(dome);

    // Lens: ring, glass and a small reflection.
    p.setBrush(QColor(0x12, 0x1f, 0x2e));
    p.drawEllipse(QPointF(32, 26), 8.5, 8.5);
    QRadialGradient glass(QPointF(30, 24), 7);
    glass.setColorAt(0.0, kGlass.lighter(140));
    glass.setColorAt(1.0, kGlass.darker(160));
    p.setBrush(glass);
    p.drawEllipse(QPointF(32, 26), 5.5, 5.5);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(QPointF(30, 24), 1.6, 1.6);

    if (withArrow) {
        // Badge in the lower right corner with an upward arrow.
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(46, 47), 15, 15);
        p.setBrush(kAccent);
        p.drawEllipse(QPointF(46, 47), 13, 13);
        QPolygonF arrow;
        arrow << QPointF(46, 37) << QPointF(55, 47) << QPointF(50, 47)
              << QPointF(50, 56) << QPointF(42, 56) << QPointF(42, 47)
              << QPointF(37, 47);
        p.setBrush(Qt::white);
        p.drawPolygon(arrow);
    }
    p.restore();
}

QImage drawTool()
{
    QImage img = transparentImage(64, 64);
    QPainter p(&img);
    paintCameraEmblem(p, QRectF(0, 0, 64, 64), true);
    return img;
}

QImage drawAboutBackground()
{
    // The about frame's style sheet has no selector, so every label and the
    // close button on it repaint this image from their own top-left corner.
    // Only a plain field lets those patches blend in; the decoration is kept
    // to the strips between the texts (rows 45..55 and 150..170), which no
    // child covers.
    QImage img(332, 210, QImage::Format_RGB32);
    img.fill(kPaleField);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    QLinearGradient line(40, 0, 292, 0);
    line.setColorAt(0.0, QColor(0x23, 0x3a, 0x55, 0));
    line.setColorAt(0.5, QColor(0x23, 0x3a, 0x55, 110));
    line.setColorAt(1.0, QColor(0x23, 0x3a, 0x55, 0));
    p.fillRect(QRectF(40, 49, 252, 2), line);
    QLinearGradient accent(60, 0, 272, 0);
    accent.setColorAt(0.0, QColor(0x2f, 0x8f, 0x5b, 0));
    accent.setColorAt(0.5, QColor(0x2f, 0x8f, 0x5b, 120));
    accent.setColorAt(1.0, QColor(0x2f, 0x8f, 0x5b, 0));
    p.fillRect(QRectF(60, 158, 212, 2), accent);
    return img;
}

QImage drawLogo()
{
    const int w = 211;
    const int h = 31;
    QImage img = transparentImage(w, h);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);

    // Emblem without the badge: at this height the arrow would be a smudge.
    // The camera fills rows 8..37 of the 64-unit grid, so a 56-pixel box
    // shifted up by 5 puts it 2 pixels from the top and bottom edges.
    paintCameraEmblem(p, QRectF(-5, -5, 56, 56), false);

    // Wordmark: "Quillon" bold, "Desk" regular in the accent colour.
    const QString first = QStringLiteral("Quillon");
    const QString second = QStringLiteral(" Desk");
    QFont bold = sansFont(13, QFont::Bold);
    QFont light = sansFont(13, QFont::Normal);
    const QFontMetricsF fmBold(bold, &img);
    const QFontMetricsF fmLight(light, &img);
    const qreal baseline = (h + fmBold.ascent() - fmBold.descent()) / 2.0;
    const qreal x0 = 50;

    p.setFont(bold);
    p.setPen(kInk);
    p.drawText(QPointF(x0, baseline), first);
    const qreal x1 = x0 + fmBold.horizontalAdvance(first);
    p.setFont(light);
    p.setPen(kAccent);
    p.drawText(QPointF(x1, baseline), second);

    // Underline bar under the whole wordmark.
    const qreal x2 = x1 + fmLight.horizontalAdvance(second);
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawRoundedRect(QRectF(x0, baseline + 3, x2 - x0, 2), 1, 1);
    return img;
}

QImage drawClose()
{
    QImage img = transparentImage(32, 32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x8a, 0x96, 0xa3));
    p.drawEllipse(QRectF(1, 1, 30, 30));
    p.setBrush(QColor(0x5d, 0x6b, 0x7a));
    p.drawEllipse(QRectF(3, 3, 26, 26));
    QPen cross(Qt::white, 3.2, Qt::SolidLine, Qt::RoundCap);
    p.setPen(cross);
    p.drawLine(QPointF(11, 11), QPointF(21, 21));
    p.drawLine(QPointF(21, 11), QPointF(11, 21));
    return img;
}

QImage drawMainBackground()
{
    // Kept very light and without texture: the form's texts are drawn on top.
    QImage img(1001, 751, QImage::Format_RGB32);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, 751);
    g.setColorAt(0.0, QColor(0xfb, 0xfc, 0xfe));
    g.setColorAt(1.0, QColor(0xec, 0xf1, 0xf6));
    p.fillRect(img.rect(), g);
    return img;
}

bool save(const QImage &img, const QDir &dir, const char *name, int quality = -1)
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    if (!img.save(path, nullptr, quality)) {
        std::fprintf(stderr, "drawimages: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s %dx%d\n", qPrintable(path), img.width(), img.height());
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    // Text rendering needs a QGuiApplication; no window is ever shown, so the
    // offscreen platform is enough and works without a display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    QGuiApplication app(argc, argv);

    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.exists() && !QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "drawimages: cannot create %s\n", argv[1]);
        return 1;
    }

    bool ok = true;
    ok &= save(drawTool(), dir, "tool.png");
    ok &= save(drawAboutBackground(), dir, "back4.png");
    ok &= save(drawLogo(), dir, "logo.png");
    ok &= save(drawClose(), dir, "close.png");
    ok &= save(drawMainBackground(), dir, "back1.jpg", 95);
    return ok ? 0 : 1;
}
