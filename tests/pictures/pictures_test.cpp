// SPDX-License-Identifier: MIT
// Every rendering in ui/pictures decodes to the pixels it had when it was
// last drawn on purpose: re-encoding a file for faster decoding, or a
// renderer upgrade, must not change a single pixel the windows show.

#include <QCryptographicHash>
#include <QImage>
#include <QImageReader>
#include <QtTest>

class PicturesTest : public QObject {
    Q_OBJECT

private slots:
    void pixels_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QByteArray>("sha256");
        // SHA-256 of the pixels as 32-bit RGB, row by row.
        struct Row {
            const char* file;
            int width;
            int height;
            const char* sha256;
        };
        const Row rows[] = {
            {"background.png", 353, 263,
             "f38cb12811c4d8f8fb9432021f352cd80fa50c7021a89de09e64e014b99e8add"},
            {"background@2x.png", 706, 526,
             "296c966d03f3a2d5cccb0f64d6a1363fa26bd2ae81377633592bfaabe99f6500"},
            {"cover.ppm", 274, 272,
             "5c079d7d3f91995052a602f368005796bae1662285d07996874fae50e17e9e5c"},
            {"cover@2x.ppm", 548, 544,
             "774ac4fa4151411d343c73cb2f329947a2d33464f496fa6520c2a35c6ae6b5b0"},
            {"farewell.png", 209, 289,
             "3f8c4c6c9aad8f4dd093ef82039e477a00792ecc1a5cdd272680eeaea764ed1b"},
            {"farewell@2x.png", 418, 578,
             "147314a077ebdadba5b92395c1aac5aba9f9a0b41521b276ea2edda0e0f37abd"},
            {"icon.png", 32, 32,
             "d9e09873dcfa728b314e04a95562dcf24a54ad64ff44b447afde7c946dfcf3c2"},
            {"icon@2x.png", 64, 64,
             "8f1b2f076ee2b52839c994b59e3aca333a9a3be5a3b4570d1a3613280acf7a7d"},
            {"icon-16.png", 16, 16,
             "daf5dfd8d128b29b137141127a06c61fbd7bcea2285f17ae6ae587c3d795298d"},
            {"icon-22.png", 22, 22,
             "93ed1c1b5f98c2021c29cfa28978fea72b68464a3570cfb133ddecb3558e1b95"},
            {"icon-24.png", 24, 24,
             "a3d4d21a6ee8da8197fdda11d639dfe440c85057e1bc347721c169866faa5ed1"},
            {"icon-48.png", 48, 48,
             "d9fc448fbd72219c4d1262f08e9dc6219fb7577dfa3a3b2bcd12c63f5775a05c"},
            {"icon-128.png", 128, 128,
             "4887061664fc186fba8370e11bd923bdd58ba107673749ca1ce1e81637a5cb82"},
            {"icon-256.png", 256, 256,
             "3818be6131a2e5865b12f393199cf8616a6dc6798dad996aeefa0b67fa4af780"},
        };
        for (const Row& r : rows) {
            QTest::newRow(r.file) << QString::fromLatin1(r.file) << QSize(r.width, r.height)
                                  << QByteArray(r.sha256);
        }
    }

    void pixels() {
        QFETCH(QString, file);
        QFETCH(QSize, size);
        QFETCH(QByteArray, sha256);
        QImageReader reader(QStringLiteral(QUILLO_PICTURES_DIR "/") + file);
        const QImage read = reader.read();
        QVERIFY2(!read.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(read.size(), size);
        // Palette and RGB files alike, as the colours they show.
        const QImage image = read.convertToFormat(QImage::Format_RGB32);
        QCryptographicHash hash(QCryptographicHash::Sha256);
        for (int y = 0; y < image.height(); ++y) {
            hash.addData(QByteArrayView(image.constScanLine(y), image.width() * 4));
        }
        QCOMPARE(hash.result().toHex(), sha256);
    }
};

QTEST_GUILESS_MAIN(PicturesTest)
#include "pictures_test.moc"
