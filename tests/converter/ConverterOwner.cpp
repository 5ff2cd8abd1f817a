// Starts one conversion through the converter component and runs until it ends or is killed:
//   converter_owner <converter folder> <source> <destination>
#include "AVC.h"

#include <QCoreApplication>
#include <QTimer>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    AVC::SetProgramFolder(args.at(1));
    QTimer timer;
    AVC avc(&timer);
    QObject::connect(&avc, &AVC::Complete, &app, [] { QCoreApplication::exit(0); });
    QObject::connect(&avc, &AVC::ErrorEvent, &app, [] { QCoreApplication::exit(1); });
    avc.SetSourceFile(args.at(2));
    avc.SetDestFile(args.at(3));
    avc.ConvertMedia(true);
    return app.exec();
}
