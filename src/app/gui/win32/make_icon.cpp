// Draws the program's icon (the title bar's "B" badge) at the sizes Windows
// asks of an .exe and writes them as one .ico with PNG images. Run once on the
// host when the badge changes:
//   g++ -std=c++17 -fPIC make_icon.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/make_icon
//   QT_QPA_PLATFORM=offscreen /tmp/make_icon brisko-cleaner.ico
#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QtEndian>

static QByteArray badge(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 34.0, size / 34.0);
    p.setPen(QPen(QColor(255, 255, 255, 200), 2));
    p.setBrush(QColor(122, 152, 175));
    p.drawRoundedRect(QRectF(1, 1, 32, 32), 7, 7);
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setBold(true);
    f.setPixelSize(22);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 0, 34, 34), Qt::AlignCenter, QStringLiteral("B"));
    p.end();
    QByteArray png;
    QBuffer buf(&png);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "PNG");
    return png;
}

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) return 2;
    const int sizes[] = {16, 24, 32, 48, 256};
    const int count = int(std::size(sizes));
    QByteArray head, body;
    auto u16 = [](QByteArray& a, quint16 v) {
        v = qToLittleEndian(v);
        a.append((const char*)&v, 2);
    };
    auto u32 = [](QByteArray& a, quint32 v) {
        v = qToLittleEndian(v);
        a.append((const char*)&v, 4);
    };
    u16(head, 0);
    u16(head, 1);  // icon
    u16(head, quint16(count));
    quint32 offset = 6 + 16 * count;
    for (int s : sizes) {
        QByteArray png = badge(s);
        head.append(char(s == 256 ? 0 : s));
        head.append(char(s == 256 ? 0 : s));
        head.append(char(0));
        head.append(char(0));
        u16(head, 1);
        u16(head, 32);
        u32(head, quint32(png.size()));
        u32(head, offset);
        offset += quint32(png.size());
        body.append(png);
    }
    QFile out(QString::fromLocal8Bit(argv[1]));
    if (!out.open(QIODevice::WriteOnly)) return 1;
    out.write(head + body);
    return 0;
}
