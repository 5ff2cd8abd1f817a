#pragma once
#include <QByteArray>
#include <QProcess>
#include <QString>

// The origin server and a forwarding proxy in front of it, each one nginx process without a
// master, with their files under `root`. The origin's own part of the configuration (types,
// sendfile, its locations) is the caller's.
class NginxServers {
public:
    explicit NginxServers(const QString& root) : root_(root) {}
    ~NginxServers();

    // `httpSettings` goes in the origin's http block, `locations` in its server block, where
    // "%ROOT%" stands for `root`.
    bool start(const QString& httpSettings, const QString& locations);

    QByteArray proxyAddress() const { return "http://127.0.0.1:" + QByteArray::number(proxyPort_); }

private:
    bool run(QProcess& process, const QString& name, const QString& config, quint16 port);

    QString root_;
    quint16 originPort_ = 0;
    quint16 proxyPort_ = 0;
    QProcess origin_;
    QProcess proxy_;
};
