#include "PrivateSessionBus.h"
#include "TestHome.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <optional>

// The real program as a screen reader hears it: read over AT-SPI from the registry of a private
// accessibility bus, not through QAccessible in this process. The display, the session bus and
// the accessibility bus are the test's own.
namespace {

// From at-spi2-core's atspi-constants.h (AtspiRole, AtspiStateType).
constexpr uint kRoleComboBox = 11, kRoleDialog = 16, kRoleFrame = 23, kRolePanel = 39,
               kRoleProgressBar = 42;
constexpr uint kRolePushButton = 43, kStateFocusable = 11;

constexpr int kWaitMs = 20000; // the program registers a moment after it starts
const QString kLauncher = QStringLiteral("/usr/libexec/at-spi-bus-launcher");
const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");
const QString kA11yBus = QStringLiteral("a11y");
const QString kSessionBus = QStringLiteral("session");

// One object of the tree: its application's bus name and its path, with what it says it is.
struct Node {
    QString service;
    QString path;
    uint role = 0;
    QString name;
};

QDBusMessage ask(const Node& node, const QString& interface, const QString& method,
                 const QVariantList& arguments = {}) {
    QDBusMessage message =
        QDBusMessage::createMethodCall(node.service, node.path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection(kA11yBus).call(message, QDBus::Block, 5000);
}

Node read(const QString& service, const QString& path) {
    Node node{service, path, 0, QString()};
    node.role = ask(node, kAccessible, "GetRole").arguments().value(0).toUInt();
    const QDBusMessage name =
        ask(node, "org.freedesktop.DBus.Properties", "Get", {kAccessible, "Name"});
    node.name = name.arguments().value(0).value<QDBusVariant>().variant().toString();
    return node;
}

QList<Node> children(const Node& parent) {
    QList<Node> found;
    const QDBusMessage reply = ask(parent, kAccessible, "GetChildren");
    if (reply.type() != QDBusMessage::ReplyMessage)
        return found;
    const auto list = reply.arguments().value(0).value<QDBusArgument>(); // a(so)
    list.beginArray();
    while (!list.atEnd()) {
        QString service;
        QDBusObjectPath path;
        list.beginStructure();
        list >> service >> path;
        list.endStructure();
        found << read(service, path.path());
    }
    list.endArray();
    return found;
}

QList<Node> descendants(const Node& top) {
    QList<Node> all;
    for (const Node& child : children(top))
        all << child << descendants(child);
    return all;
}

// The top-level windows of the one application on the bus: the program.
QList<Node> windows() {
    const QList<Node> applications =
        children({"org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root", 0, QString()});
    return applications.size() == 1 ? children(applications.first()) : QList<Node>();
}

// The first of `nodes` with the role, and with the name where one is given.
Node find(const QList<Node>& nodes, uint role, const QString& name = QString()) {
    for (const Node& node : nodes)
        if (node.role == role && (name.isEmpty() || node.name == name))
            return node;
    return {};
}

bool focusable(const Node& node) {
    const auto states = qdbus_cast<QList<uint>>(
        ask(node, kAccessible, "GetState").arguments().value(0).value<QDBusArgument>());
    return !states.isEmpty() && (states.first() >> kStateFocusable & 1);
}

// Starts `process` and returns the first line it writes (Xvfb's display number).
QString startForLine(QProcess& process, const QString& program, const QStringList& arguments) {
    process.start(program, arguments);
    QByteArray line;
    while (!line.contains('\n') && process.waitForReadyRead(10000))
        line += process.readAllStandardOutput();
    return QString::fromUtf8(line).trimmed();
}
} // namespace

class tst_AccessibilityBus : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void mainWindowIsAFrameOfNamedControls();
    void convertOpensADialogWhoseControlsAreToldApart();

private:
    TestHome home_;
    QProcess display_, launcher_, program_;
    std::optional<PrivateSessionBus> session_;
};

void tst_AccessibilityBus::initTestCase() {
    const QString xvfb = QStandardPaths::findExecutable("Xvfb");
    if (xvfb.isEmpty() || !PrivateSessionBus::Installed() || !QFileInfo(kLauncher).isExecutable())
        QSKIP("Xvfb, dbus-daemon or at-spi-bus-launcher is not installed");
    // No reset: the server would reset when its last client left (the launcher, once it has
    // marked the root window) and turn away a program that connects just then.
    const QString display = ":" + startForLine(display_, xvfb,
                                               {"-displayfd", "1", "-noreset", "-screen", "0",
                                                "1024x768x24", "-nolisten", "tcp"});
    QVERIFY(display.size() > 1);
    // A session bus that starts no services: the launcher is started here.
    const QString address = session_.emplace().address();
    QVERIFY(!address.isEmpty());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("DBUS_SESSION_BUS_ADDRESS", address);
    env.remove("AT_SPI_BUS_ADDRESS");
    env.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    env.insert("http_proxy", "http://127.0.0.1:9"); // keeps the advertisement pane offline
    launcher_.setProcessEnvironment(env);
    launcher_.start(kLauncher, QStringList());
    QDBusConnection session = QDBusConnection::connectToBus(address, kSessionBus);
    QTRY_VERIFY_WITH_TIMEOUT(session.interface()->isServiceRegistered("org.a11y.Bus"), kWaitMs);
    const QDBusMessage bus = session.call(QDBusMessage::createMethodCall(
        "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"));
    const QString a11yAddress = bus.arguments().value(0).toString();
    QVERIFY2(!a11yAddress.isEmpty(), qPrintable(bus.errorMessage()));
    QVERIFY(QDBusConnection::connectToBus(a11yAddress, kA11yBus).isConnected());

    program_.setProcessEnvironment(env);
    program_.start(QStringLiteral(VANTELO_PROGRAM), QStringList());
}

void tst_AccessibilityBus::cleanupTestCase() {
    QDBusConnection::disconnectFromBus(kA11yBus);
    QDBusConnection::disconnectFromBus(kSessionBus);
    program_.kill();
    program_.waitForFinished(5000);
    // The launcher takes its accessibility bus down with it; the registry leaves with the buses.
    const auto end = [](QProcess& process) {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(5000);
    };
    end(launcher_);
    session_.reset();
    end(display_);
}

void tst_AccessibilityBus::mainWindowIsAFrameOfNamedControls() {
    Node frame;
    QTRY_VERIFY_WITH_TIMEOUT(!(frame = find(windows(), kRoleFrame)).path.isEmpty(), kWaitMs);
    QCOMPARE(frame.name, QStringLiteral("Vantelo 1.5.1"));
    const auto tabStops = [&frame](const QString& name) {
        int stops = 0;
        for (const Node& node : descendants(frame))
            stops += node.name == name && focusable(node);
        return stops;
    };
    // The thumbnail view comes after the first paint; the pictures under it are no Tab stops.
    QTRY_COMPARE_WITH_TIMEOUT(tabStops("Video preview"), 1, kWaitMs);
    QCOMPARE(tabStops("Advertisement"), 0);
    QVERIFY(!find(descendants(frame), kRoleProgressBar, "Download progress").path.isEmpty());
}

void tst_AccessibilityBus::convertOpensADialogWhoseControlsAreToldApart() {
    const Node convert = find(descendants(find(windows(), kRoleFrame)), kRolePushButton, "Convert");
    QVERIFY(!convert.path.isEmpty());
    const QDBusMessage pressed = ask(convert, "org.a11y.atspi.Action", "DoAction", {0});
    QVERIFY2(pressed.arguments().value(0).toBool(), qPrintable(pressed.errorMessage()));
    Node dialog;
    QTRY_VERIFY_WITH_TIMEOUT(!(dialog = find(windows(), kRoleDialog)).path.isEmpty(), kWaitMs);
    QCOMPARE(windows().size(), 2);
    QCOMPARE(dialog.name, QStringLiteral("Convert YouTube Video"));

    const QList<Node> inside = descendants(dialog);
    const QList<QPair<QString, uint>> named = {{"Open source file", kRolePushButton},
                                               {"Open destination folder", kRolePushButton},
                                               {"Video options", kRolePanel},
                                               {"Audio options", kRolePanel}};
    for (const auto& [name, role] : named)
        QVERIFY2(!find(inside, role, name).path.isEmpty(), qPrintable(name));
    QStringList buttons;
    for (const Node& node : inside) {
        // A panel or a line heard as a frame would sound like a window of its own.
        QVERIFY2(node.role != kRoleFrame, qPrintable("\"" + node.name + "\" " + node.path));
        if (node.role == kRolePushButton)
            buttons << node.name;
    }
    QVERIFY2(QStringList(buttons).removeDuplicates() == 0, qPrintable(buttons.join(", ")));
    // A list is heard by its name and its current value, as its text.
    const Node format = find(inside, kRoleComboBox, "Target format");
    QVERIFY(!format.path.isEmpty());
    const QDBusMessage value = ask(format, "org.a11y.atspi.Text", "GetText", {0, -1});
    QCOMPARE(value.arguments().value(0).toString(),
             QStringLiteral("3rd Generation Partnership Project2 (*.3g2)"));
}

QTEST_GUILESS_MAIN(tst_AccessibilityBus)
#include "tst_AccessibilityBus.moc"
