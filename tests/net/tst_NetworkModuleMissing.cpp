#include "CurlTransfer.h"
#include "LoopbackHttpServer.h"
#include "NetworkModule.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// Only the network module knows the user's proxy: without it a transfer stops with the reason
// instead of going out past the proxy. A process of its own, as the module is loaded once.
class tst_NetworkModuleMissing : public QObject {
    Q_OBJECT
private slots:
    void transferStopsWithTheReason() {
        const QTemporaryDir empty;
        NetworkModule::SetFolder(empty.path());
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        server.route("/v.flv", LoopbackHttpServer::Response::Generated(1000));
        CurlTransfer transfer(server.url("/v.flv"), {}, 65536);
        QSignalSpy finished(&transfer, &CurlTransfer::Finished);
        transfer.Start();
        QTRY_COMPARE(finished.size(), 1);
        QVERIFY(transfer.Error() != TransferResult::Failure::None);
        QVERIFY2(transfer.ErrorString().contains(QLatin1String(NetworkModule::kFileName)),
                 qPrintable(transfer.ErrorString()));
        QVERIFY(server.requests().isEmpty());
    }
};

QTEST_MAIN(tst_NetworkModuleMissing)
#include "tst_NetworkModuleMissing.moc"
