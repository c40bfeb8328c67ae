// Writes the bundled sample results into a report folder, as the instrument leaves them:
// per result folder the CSV result file, a placeholder of the instrument's PDF and the
// 1280 × 960 camera images. Usage: sealprint_samples <report folder>
#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QRadialGradient>
#include <QVector>
#include <cstdio>

namespace {

struct sample_s {
    const char* folder;  // under samples/results, holding <stem>.csv
    const char* stem;
    bool fluorescence;  // four images with "_01_TAG_ALL"; otherwise bright field and "_01_TAG"
    int live, dead;     // cells drawn
};

const sample_s samples[] = {
    {"fl_viability", "K2-0137_20240301_101532", true, 230, 19},
    {"bf_total_count", "K2-0137_20240301_113004", false, 140, 0},
    {"fl_3channel_combined", "K2-0137_20240301_141518", true, 250, 16},
};

constexpr int kWidth = 1280, kHeight = 960;

struct cell_s {
    QPointF at;
    qreal radius;
    bool live;
};

// Same cells on every run: a fixed linear congruential sequence.
QVector<cell_s> place_cells(int live, int dead, quint32 seed) {
    auto next = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) / double(1u << 24);
    };
    QVector<cell_s> cells;
    for (int i = 0; i < live + dead; ++i) {
        const bool is_live = i < live;
        const qreal radius = is_live ? 9 + 5 * next() : 7 + 4 * next();
        cells.append(
            {QPointF(20 + next() * (kWidth - 40), 20 + next() * (kHeight - 40)), radius, is_live});
    }
    return cells;
}

QImage bright_field(const QVector<cell_s>& cells) {
    QImage image(kWidth, kHeight, QImage::Format_RGB888);
    QPainter p(&image);
    QRadialGradient light(kWidth / 2.0, kHeight / 2.0, kWidth * 0.7);
    light.setColorAt(0, QColor(214, 214, 210));
    light.setColorAt(1, QColor(168, 168, 164));
    p.fillRect(image.rect(), light);
    p.setRenderHint(QPainter::Antialiasing);
    for (const cell_s& c : cells) {
        p.setPen(QPen(QColor(70, 70, 72), 2.5));
        p.setBrush(c.live ? QColor(226, 226, 222) : QColor(120, 120, 126));
        p.drawEllipse(c.at, c.radius, c.radius);
    }
    return image;
}

QImage fluorescence(const QVector<cell_s>& cells, bool live, QColor glow) {
    QImage image(kWidth, kHeight, QImage::Format_RGB888);
    image.fill(QColor(6, 6, 8));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    for (const cell_s& c : cells) {
        if (c.live != live)
            continue;
        QRadialGradient g(c.at, c.radius);
        g.setColorAt(0, glow);
        g.setColorAt(1, QColor(glow.red() / 6, glow.green() / 6, glow.blue() / 6));
        p.setBrush(g);
        p.drawEllipse(c.at, c.radius, c.radius);
    }
    return image;
}

// The analysed image: the bright-field picture with every counted cell outlined.
QImage tagged(QImage image, const QVector<cell_s>& cells, bool fluorescence) {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::NoBrush);
    for (const cell_s& c : cells) {
        p.setPen(QPen(!fluorescence || c.live ? QColor(0, 200, 0) : QColor(230, 0, 0), 2));
        p.drawEllipse(c.at, c.radius + 4, c.radius + 4);
    }
    return image;
}

bool save_tiff(const QImage& image, const QString& path) {
    QImageWriter writer(path, "tiff");
    writer.setCompression(1);  // LZW: the pictures are flat, this keeps them small
    if (writer.write(image))
        return true;
    fprintf(stderr, "cannot write %s: %s\n", qPrintable(path), qPrintable(writer.errorString()));
    return false;
}

// A one-page PDF standing in for the instrument's own report, which sealprint replaces.
QByteArray placeholder_pdf(const QString& stem) {
    const QByteArray text =
        "BT /F1 14 Tf 72 770 Td (Instrument result " + stem.toLatin1() + ") Tj ET";
    const QByteArray objects[] = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + QByteArray::number(text.size()) + " >>\nstream\n" + text + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    };
    QByteArray pdf = "%PDF-1.4\n";
    QVector<int> offsets;
    int number = 1;
    for (const QByteArray& object : objects) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(number++) + " 0 obj\n" + object + "\nendobj\n";
    }
    const int xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (int offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(offsets.size() + 1) + " /Root 1 0 R >>\n";
    pdf += "startxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

bool write_sample(const sample_s& s, const QDir& out, quint32 seed) {
    const QString folder = out.filePath(QString::fromLatin1(s.folder));
    const QString base = folder + QLatin1Char('/') + QString::fromLatin1(s.stem);
    const QString csv_source = QStringLiteral(SAMPLES_SOURCE_DIR "/results/") +
                               QLatin1String(s.folder) + QLatin1Char('/') + QLatin1String(s.stem) +
                               QLatin1String(".csv");
    if (!QDir().mkpath(folder))
        return false;
    QFile::remove(base + ".csv");
    if (!QFile::copy(csv_source, base + ".csv")) {
        fprintf(stderr, "cannot copy %s\n", qPrintable(csv_source));
        return false;
    }
    QFile pdf(base + ".pdf");
    if (!pdf.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        pdf.write(placeholder_pdf(QString::fromLatin1(s.stem))) < 0) {
        return false;
    }
    pdf.close();

    const QVector<cell_s> cells = place_cells(s.live, s.dead, seed);
    const QImage bf = bright_field(cells);
    bool ok = save_tiff(bf, base + "_01_RAW_BF.tif");
    if (s.fluorescence) {
        ok = ok &&
             save_tiff(fluorescence(cells, true, QColor(60, 255, 90)), base + "_01_RAW_GFP.tif");
        ok = ok &&
             save_tiff(fluorescence(cells, false, QColor(255, 50, 40)), base + "_01_RAW_RFP.tif");
        ok = ok && save_tiff(tagged(bf, cells, true), base + "_01_TAG_ALL.tif");
    } else {
        ok = ok && save_tiff(tagged(bf, cells, false), base + "_01_TAG.tif");
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);  // the TIFF writer is a plug-in
    if (argc != 2) {
        fprintf(stderr, "usage: %s <report folder>\n", argv[0]);
        return 1;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    quint32 seed = 20240301;
    for (const sample_s& s : samples) {
        if (!write_sample(s, out, seed++)) {
            fprintf(stderr, "cannot write the sample %s\n", s.folder);
            return 1;
        }
    }
    printf("%s\n", qPrintable(out.absolutePath()));
    return 0;
}
