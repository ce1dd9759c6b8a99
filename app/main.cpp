#include "driverinfo.h"
#include "logging.h"
#include "singleapplication.h"
#include "threadpriority.h"
#include "tolmainwindow.h"

#include <QDebug>
#include <QTranslator>

int main(int argc, char *argv[])
{
    // Crisp on screens scaled to 125, 150 or 200 %: both must be set before the application exists.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    SingleApplication app(argc, argv, true);
    qInstallMessageHandler(logMessageHandler);

    qDebug() << "application run argc=" << argc;
    for (int i = 0; i < argc; ++i)
        qDebug() << "argv[" << i << "]=" << QString::fromLocal8Bit(argv[i]);

    if (app.isRunning()) {
        app.sendMessage(QStringLiteral("raise_window_noop"), 5000);
        return 0;
    }

    registerDriverInfoMetaType();
    QApplication::setQuitOnLastWindowClosed(false);

    auto *translator = new QTranslator(&app);
    const QString translation = QCoreApplication::applicationDirPath() + QStringLiteral("/Translations/")
        + QStringLiteral("qt_zh_CN.qm");
    qDebug() << translation;
    translator->load(translation);
    QCoreApplication::installTranslator(translator);

    raiseWindowThreadPriority();
    TolMainWindow window(nullptr);
    app.setActivationWindow(&window, true);
    window.show();
    return app.exec();
}
