// Draws the launcher's pictures: the embedded background (Image1) and the two
// delivered pictures "\背景画像\1.jpg" and "\新着画像\1.jpg". Run it through
// scripts/make-pictures; the JPEGs it writes are committed.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <QTextStream>

namespace {

void drawStars(QPainter& p, const QRectF& area, int count, quint32 seed)
{
    QRandomGenerator rng(seed);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < count; ++i) {
        const QPointF at(area.left() + rng.bounded(area.width()),
                         area.top() + rng.bounded(area.height()));
        const double r = 0.5 + rng.bounded(1.6);
        const int alpha = 90 + rng.bounded(165);
        p.setBrush(QColor(255, 250, 235, alpha));
        p.drawEllipse(at, r, r);
    }
}

void drawMeteor(QPainter& p, QPointF head, QPointF tail, double width)
{
    QLinearGradient trail(tail, head);
    trail.setColorAt(0, QColor(255, 255, 255, 0));
    trail.setColorAt(1, QColor(255, 246, 214, 230));
    p.setPen(QPen(QBrush(trail), width, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(tail, head);
    QRadialGradient glow(head, width * 4);
    glow.setColorAt(0, QColor(255, 255, 240, 255));
    glow.setColorAt(1, QColor(255, 255, 240, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(head, width * 4, width * 4);
}

// A crow seen from the side, perched, facing left; `s` scales the 100-unit design.
QPainterPath crow(QPointF at, double s)
{
    auto pt = [&](double x, double y) { return QPointF(at.x() + x * s, at.y() + y * s); };
    QPainterPath path;
    path.moveTo(pt(0, 12));    // beak tip
    path.lineTo(pt(14, 6));
    path.cubicTo(pt(18, -2), pt(30, -4), pt(34, 4)); // crown
    path.cubicTo(pt(44, 8), pt(62, 14), pt(78, 34)); // back
    path.lineTo(pt(100, 58)); // tail
    path.lineTo(pt(92, 62));
    path.lineTo(pt(72, 50));
    path.cubicTo(pt(60, 58), pt(44, 58), pt(34, 50)); // belly
    path.cubicTo(pt(26, 42), pt(22, 28), pt(20, 20));
    path.lineTo(pt(14, 16));
    path.closeSubpath();
    QPainterPath legs;
    legs.addRect(QRectF(pt(44, 54), QSizeF(2.2 * s, 12 * s)));
    legs.addRect(QRectF(pt(52, 54), QSizeF(2.2 * s, 12 * s)));
    return path.united(legs);
}

QImage background()
{
    QImage img(1024, 592, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, img.height());
    sky.setColorAt(0.0, QColor(8, 12, 38));
    sky.setColorAt(0.55, QColor(26, 30, 78));
    sky.setColorAt(1.0, QColor(70, 44, 92));
    p.fillRect(img.rect(), sky);
    drawStars(p, img.rect(), 420, 1906);
    drawMeteor(p, QPointF(742, 118), QPointF(930, 38), 2.4);
    drawMeteor(p, QPointF(138, 62), QPointF(214, 28), 1.4);

    // Hills along the bottom edge, darker in front.
    QPainterPath far;
    far.moveTo(0, 520);
    far.cubicTo(220, 450, 420, 520, 620, 488);
    far.cubicTo(800, 462, 920, 500, 1024, 470);
    far.lineTo(1024, 592);
    far.lineTo(0, 592);
    p.fillPath(far, QColor(30, 24, 54));
    QPainterPath near;
    near.moveTo(0, 560);
    near.cubicTo(300, 520, 600, 580, 1024, 540);
    near.lineTo(1024, 592);
    near.lineTo(0, 592);
    p.fillPath(near, QColor(14, 12, 30));

    // Soft panels behind the two label columns and the status line.
    p.setPen(QPen(QColor(246, 231, 180, 70), 1.5));
    p.setBrush(QColor(255, 255, 255, 22));
    p.drawRoundedRect(QRectF(44, 208, 196, 190), 14, 14);
    p.drawRoundedRect(QRectF(782, 216, 196, 180), 14, 14);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 60));
    p.drawRoundedRect(QRectF(180, 22, 560, 94), 12, 12);
    return img;
}

QImage moonWithCrow()
{
    QImage img(510, 420, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, img.height());
    sky.setColorAt(0, QColor(20, 28, 70));
    sky.setColorAt(1, QColor(88, 62, 120));
    p.fillRect(img.rect(), sky);
    drawStars(p, img.rect(), 90, 1225);

    const QPointF moon(300, 170);
    QRadialGradient halo(moon, 190);
    halo.setColorAt(0, QColor(255, 244, 200, 120));
    halo.setColorAt(1, QColor(255, 244, 200, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(halo);
    p.drawEllipse(moon, 190, 190);
    QRadialGradient face(moon - QPointF(30, 30), 140);
    face.setColorAt(0, QColor(255, 252, 232));
    face.setColorAt(1, QColor(236, 218, 160));
    p.setBrush(face);
    p.drawEllipse(moon, 118, 118);
    p.setBrush(QColor(214, 196, 140, 90));
    p.drawEllipse(moon + QPointF(-40, 20), 22, 18);
    p.drawEllipse(moon + QPointF(30, -40), 14, 12);
    p.drawEllipse(moon + QPointF(46, 44), 18, 15);

    // A bare branch from the left with the crow on it.
    QPainterPath branch;
    branch.moveTo(-10, 318);
    branch.cubicTo(120, 300, 260, 308, 420, 276);
    branch.lineTo(424, 284);
    branch.cubicTo(262, 320, 122, 316, -10, 334);
    branch.closeSubpath();
    branch.moveTo(300, 296);
    branch.cubicTo(340, 330, 360, 350, 380, 380);
    branch.lineTo(372, 384);
    branch.cubicTo(350, 352, 330, 334, 294, 304);
    branch.closeSubpath();
    const QColor ink(10, 8, 20);
    p.fillPath(branch, ink);
    p.fillPath(crow(QPointF(150, 205), 1.5), ink);
    return img;
}

QImage newMail()
{
    QImage img(510, 420, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient dawn(0, 0, 0, img.height());
    dawn.setColorAt(0, QColor(36, 40, 100));
    dawn.setColorAt(0.6, QColor(196, 96, 120));
    dawn.setColorAt(1, QColor(252, 196, 120));
    p.fillRect(img.rect(), dawn);
    drawStars(p, QRectF(0, 0, 510, 180), 60, 77);
    drawMeteor(p, QPointF(120, 90), QPointF(260, 20), 3);

    // The envelope.
    const QRectF env(105, 128, 300, 190);
    p.setPen(QPen(QColor(120, 90, 60), 3));
    p.setBrush(QColor(255, 251, 240));
    p.drawRoundedRect(env, 10, 10);
    QPainterPath flap;
    flap.moveTo(env.topLeft() + QPointF(6, 6));
    flap.lineTo(env.center().x(), env.top() + 110);
    flap.lineTo(env.topRight() + QPointF(-6, 6));
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(214, 48, 62));
    p.drawEllipse(QPointF(env.center().x(), env.top() + 104), 20, 20);

    QFont font(QStringLiteral("IPAPGothic"));
    font.setPixelSize(52);
    font.setBold(true);
    p.setFont(font);
    const QRectF caption(0, 334, 510, 70);
    p.setPen(QColor(90, 40, 40, 140));
    p.drawText(caption.translated(3, 3), Qt::AlignCenter, QStringLiteral("新着メール"));
    p.setPen(QColor(255, 255, 255));
    p.drawText(caption, Qt::AlignCenter, QStringLiteral("新着メール"));
    return img;
}

bool save(const QImage& img, const QString& path)
{
    QDir().mkpath(path.section(u'/', 0, -2));
    return img.save(path, "JPG", 92);
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 3) {
        err << "usage: corvidan-make-pictures ASSETS_APPDIR RESOURCES_DIR\n";
        return 2;
    }
    const QString assets = QString::fromLocal8Bit(argv[1]);
    const QString resources = QString::fromLocal8Bit(argv[2]);
    const bool ok = save(background(), resources + QStringLiteral("/Image1.jpg")) &&
                    save(moonWithCrow(), assets + QStringLiteral("/背景画像/1.jpg")) &&
                    save(newMail(), assets + QStringLiteral("/新着画像/1.jpg"));
    if (!ok)
        err << "could not write the pictures\n";
    return ok ? 0 : 1;
}
