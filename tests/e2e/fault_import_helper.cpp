// Imports a generated history of <count> entries (texts and small images) into the store in
// <folder>, the way the settings window's import does. The fault test kills it part-way.
//   fault_import_helper <folder> <count>
#include "exchange/ExportImport.h"
#include "store/PBContent.h"
#include "store/Store.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include <cstdio>

namespace {

QByteArray pngOf(int seed)
{
    QImage image(24, 16, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(seed % 360, 200, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QByteArray document(int count)
{
    QJsonArray entries;
    for (int i = 0; i < count; ++i) {
        const bool image = i % 5 == 0;
        const QString excerpt = image
                                    ? QStringLiteral("Image 24×16")
                                    : QStringLiteral("imported line %1 of the old history").arg(i);
        const ItemList items = image ? ItemList{{{Uti::png, pngOf(i)}}}
                                     : ItemList{{{Uti::plainText, excerpt.toUtf8()}}};
        entries.append(QJsonObject{
            {QStringLiteral("appBundle"), QStringLiteral("org.example.editor")},
            {QStringLiteral("appName"), QStringLiteral("Editor")},
            {QStringLiteral("content"), PBContent::from(items).toJsonObject()},
            {QStringLiteral("created"), 1000.0 + i},
            {QStringLiteral("excerpt"), excerpt},
            {QStringLiteral("id"), QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()},
            {QStringLiteral("kind"), image ? QStringLiteral("image") : QStringLiteral("text")},
            {QStringLiteral("pinned"), i % 97 == 0},
            {QStringLiteral("title"), i % 31 == 0 ? QStringLiteral("titled") : QString()},
        });
    }
    const QJsonObject root{{QStringLiteral("entries"), entries},
                           {QStringLiteral("exportedAt"), 5000.0},
                           {QStringLiteral("version"), 1}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fputs("usage: fault_import_helper <folder> <count>\n", stderr);
        return 2;
    }
    const QByteArray data = document(QByteArray(argv[2]).toInt());
    Store store(QString::fromLocal8Bit(argv[1]));
    std::fputs("importing\n", stdout);
    std::fflush(stdout);
    const ExportImport::ImportResult result = ExportImport::importData(data, store);
    std::printf("imported=%d skipped=%d\n", result.imported, result.skipped);
    return 0;
}
