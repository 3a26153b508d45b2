#include "environment.h"

#include <cstdlib>

#include <QDesktopServices>
#include <QDir>

QString takeEngineText(char* text) {
    if (text == nullptr)
        return QString();
    QString copy = QString::fromUtf8(text);
    std::free(text);
    return copy;
}

void openURL(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

QString homeDirectory() {
    return QDir::homePath();
}

QPixmap bundleImage(const QString& name) {
    return QPixmap(QStringLiteral(":/images/%1.png").arg(name));
}

QIcon systemSymbol(const QString& name) {
    return QIcon(QStringLiteral(":/symbols/%1.png").arg(name));
}
