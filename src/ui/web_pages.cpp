#include "ui/web_pages.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace brisko {

QString webPageFile(std::string_view page) {
    const QString name = QString::fromUtf8(page.data(), qsizetype(page.size()));
    QStringList folders;
    if (QCoreApplication::instance())
        folders << QCoreApplication::applicationDirPath() + QStringLiteral("/docs/web");
#ifdef BRISKO_DATA_DIR
    folders << QStringLiteral(BRISKO_DATA_DIR "/../docs/web");
#endif
    for (const QString& folder : folders) {
        QFileInfo f(QDir(folder), name);
        if (f.isFile()) return f.canonicalFilePath();
    }
    return {};
}

}  // namespace brisko
