#include "NginxServers.h"

#include "BenchFigures.h"

#include <QDir>
#include <QTcpSocket>
#include <QThread>

NginxServers::~NginxServers() {
    for (QProcess* process : {&origin_, &proxy_}) {
        process->terminate();
        process->waitForFinished(5000);
    }
}

bool NginxServers::start(const QString& httpSettings, const QString& locations) {
    QDir(root_).mkpath(QStringLiteral("temp"));
    originPort_ = FreePort();
    proxyPort_ = FreePort();
    const QString common =
        QStringLiteral("daemon off; master_process off; worker_processes 1;\n"
                       "error_log %1/%2.log warn; pid %1/%2.pid;\n"
                       "events { worker_connections 256; }\n"
                       "http {\n access_log off;\n"
                       " client_body_temp_path %1/temp; proxy_temp_path %1/temp;\n"
                       " fastcgi_temp_path %1/temp; uwsgi_temp_path %1/temp;\n"
                       " scgi_temp_path %1/temp;\n")
            .arg(root_);
    QString ownLocations = locations;
    ownLocations.replace(QStringLiteral("%ROOT%"), root_);
    const QString origin = common.arg(QStringLiteral("origin")) + httpSettings +
                           QStringLiteral("\n server {\n  listen 127.0.0.1:%1; root %2/www;\n")
                               .arg(originPort_)
                               .arg(root_) +
                           ownLocations + QStringLiteral("\n }\n}\n");
    // The proxy forwards whatever it is asked for to the origin, whatever the host.
    const QString proxy =
        common.arg(QStringLiteral("proxy")) +
        QStringLiteral(" server {\n  listen 127.0.0.1:%1;\n"
                       "  location / { proxy_pass http://127.0.0.1:%2;\n"
                       "   proxy_http_version 1.1; proxy_set_header Connection \"\";\n"
                       "   proxy_set_header Host $host; proxy_redirect off;\n"
                       "   proxy_buffers 16 64k; proxy_max_temp_file_size 0; }\n }\n}\n")
            .arg(proxyPort_)
            .arg(originPort_);
    return run(origin_, QStringLiteral("origin"), origin, originPort_) &&
           run(proxy_, QStringLiteral("proxy"), proxy, proxyPort_);
}

bool NginxServers::run(QProcess& process, const QString& name, const QString& config,
                       quint16 port) {
    const QString configPath = root_ + '/' + name + QStringLiteral(".conf");
    if (!WriteFile(configPath, config.toUtf8()))
        return false;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral("/usr/sbin/nginx"),
                  {QStringLiteral("-p"), root_, QStringLiteral("-e"),
                   root_ + '/' + name + QStringLiteral("-start.log"), QStringLiteral("-c"),
                   configPath});
    if (!process.waitForStarted(5000))
        return false;
    // Ready once it accepts connections.
    for (int attempt = 0; attempt < 100; ++attempt) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(100))
            return true;
        QThread::msleep(20);
    }
    return false;
}
