#include "AeroButton.h"
#include "ProgressBar.h"
#include "ZebCheck.h"
#include "ZebLabel.h"
#include "ZebOption.h"

#include <QLineEdit>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <climits>

namespace {
const QColor kOrange(255, 128, 0);

// How far a colour is from orange, roughly (the bar is glossy, not flat).
bool looksOrange(const QColor& c) {
    return c.red() > 200 && c.green() > 90 && c.green() < 200 && c.blue() < 90;
}

QImage rendered(QWidget& widget) {
    return widget.grab().toImage();
}
} // namespace

// The widget set: values, states and looks that the windows rely on.
class tst_ZebControls : public QObject {
    Q_OBJECT

private slots:
    void progressBarStartsEmptyAndOrange() {
        ProgressBar bar;
        QCOMPARE(bar.value(), 0);
        QCOMPARE(bar.max(), 100);
        QCOMPARE(bar.barColor(), kOrange);
        QCOMPARE(bar.text(), QStringLiteral("0"));
    }

    void progressBarTakesMaximumThenValue_data() {
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("shown");
        QTest::newRow("page phase end") << 1 << 0 << 0;
        QTest::newRow("after completion") << 5 << 0 << 0;
        QTest::newRow("halfway") << 3000000 << 1500000 << 1500000;
        QTest::newRow("32-bit extremes") << INT_MAX << INT_MAX - 1 << INT_MAX - 1;
        QTest::newRow("value above maximum is clamped") << 100 << 250 << 100;
        QTest::newRow("negative value is clamped") << 100 << -5 << 0;
        QTest::newRow("maximum of zero") << 0 << 7 << 0;
        QTest::newRow("negative maximum") << -10 << 3 << 0;
    }
    void progressBarTakesMaximumThenValue() {
        QFETCH(int, maximum);
        QFETCH(int, value);
        QFETCH(int, shown);
        ProgressBar bar;
        bar.setValue(40);
        bar.setMax(maximum);
        bar.setValue(value);
        QCOMPARE(bar.value(), shown);
        QCOMPARE(bar.max(), std::max(0, maximum));
        QCOMPARE(bar.text(), QString::number(shown));
        bar.resize(200, 17);
        QVERIFY(!rendered(bar).isNull());
    }

    void progressBarKeepsValueWhenMaximumShrinks() {
        ProgressBar bar;
        bar.setMax(1000);
        bar.setValue(800);
        bar.setMax(500);
        QCOMPARE(bar.value(), 500);
        bar.setMaximum(2000);
        QCOMPARE(bar.value(), 500);
    }

    void progressBarFillFollowsTheValue() {
        ProgressBar bar;
        bar.resize(200, 17);
        bar.setMax(4);
        bar.setValue(2);
        QImage image = rendered(bar);
        const int middle = image.height() / 2;
        QVERIFY(looksOrange(image.pixelColor(image.width() / 4, middle)));
        QVERIFY(!looksOrange(image.pixelColor(image.width() * 3 / 4 + 20, middle)));

        // A maximum of zero shows an empty bar, not a busy one.
        bar.setMax(0);
        bar.setValue(9);
        image = rendered(bar);
        for (int x = 2; x < image.width() - 2; x += 3)
            QVERIFY2(!looksOrange(image.pixelColor(x, middle)), qPrintable(QString::number(x)));

        bar.setMax(10);
        bar.setValue(10);
        image = rendered(bar);
        QVERIFY(looksOrange(image.pixelColor(image.width() - 8, middle + 3)));
    }

    void progressBarColourCanChange() {
        ProgressBar bar;
        bar.resize(100, 17);
        bar.setBarColor(QColor(0, 0, 255));
        bar.setValue(100);
        const QColor middle = rendered(bar).pixelColor(10, 12);
        QVERIFY(middle.blue() > 150 && middle.red() < 80);
    }

    void optionsAreExclusiveWithinTheirContainer() {
        QWidget panel, other;
        ZebOption mono("Mono", &panel), stereo("Stereo", &panel), elsewhere("X", &other);
        mono.setValue(true);
        elsewhere.setValue(true);
        QVERIFY(mono.value() && !stereo.value());
        stereo.setValue(true);
        QVERIFY(!mono.value() && stereo.value());
        QVERIFY(elsewhere.value());

        panel.show();
        QTest::mouseClick(&mono, Qt::LeftButton);
        QVERIFY(mono.value() && !stereo.value());
    }

    void selectedOptionCanBeCleared() {
        // A format preset clears both, then selects one.
        QWidget panel;
        ZebOption mono("Mono", &panel), stereo("Stereo", &panel);
        mono.setValue(true);
        mono.setValue(false);
        stereo.setValue(false);
        QVERIFY(!mono.value() && !stereo.value());
        mono.setValue(true);
        QVERIFY(mono.value() && !stereo.value());
        stereo.setValue(true);
        QVERIFY(!mono.value());
        QVERIFY(stereo.autoExclusive());
    }

    void checkValueIsZeroOrOne() {
        ZebCheck quality("Same quality");
        QCOMPARE(quality.value(), 0);
        quality.setValue(1);
        QCOMPARE(quality.value(), 1);
        QVERIFY(quality.isChecked());
        quality.setValue(0);
        QCOMPARE(quality.value(), 0);
        quality.setValue(-1);
        QCOMPARE(quality.value(), 1);
    }

    void backgroundColourIsPainted() {
        const QColor back(0x20, 0x60, 0xA0);
        ZebCheck check("C");
        ZebOption option("O");
        check.setBackColor(back);
        option.setBackColor(back);
        QCOMPARE(check.backColor(), back);
        QCOMPARE(option.backColor(), back);
        for (QWidget* widget : {static_cast<QWidget*>(&check), static_cast<QWidget*>(&option)}) {
            widget->resize(120, 24);
            const QImage image = rendered(*widget);
            QCOMPARE(image.pixelColor(image.width() - 2, image.height() - 2), back);
        }
    }

    void labelCaption() {
        ZebLabel label("Codec");
        QCOMPARE(label.caption(), QStringLiteral("Codec"));
        label.setCaption("Bitrate");
        QCOMPARE(label.text(), QStringLiteral("Bitrate"));
    }

    void buttonAccessKey() {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* edit = new QLineEdit(&window);
        auto* ok = new AeroButton("&Ok", &window);
        layout->addWidget(edit);
        layout->addWidget(ok);
        QCOMPARE(ok->shortcut(), QKeySequence(Qt::ALT | Qt::Key_O));
        QSignalSpy clicked(ok, &QAbstractButton::clicked);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_O, Qt::AltModifier);
        QTRY_COMPARE(clicked.size(), 1);
        QCOMPARE(edit->text(), QString());
    }

    void enterPressesTheDefaultButton() {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* edit = new QLineEdit(&window);
        auto* first = new AeroButton("First", &window);
        auto* download = new AeroButton("Download", &window);
        layout->addWidget(edit);
        layout->addWidget(first);
        layout->addWidget(download);
        first->setDefault(true);
        // Editing the address hands the role to Download.
        download->setDefault(true);
        QVERIFY(download->isDefault());
        QVERIFY(!first->isDefault());

        QSignalSpy firstClicked(first, &QAbstractButton::clicked);
        QSignalSpy downloadClicked(download, &QAbstractButton::clicked);
        window.show();
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(downloadClicked.size(), 1);

        // A button with the focus takes Enter itself.
        first->setFocus();
        QTest::keyClick(first, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(firstClicked.size(), 1);
        QCOMPARE(downloadClicked.size(), 1);

        // Disabled, the default button ignores Enter.
        download->setEnabled(false);
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(downloadClicked.size(), 1);

        download->setEnabled(true);
        download->setDefault(false);
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(downloadClicked.size(), 1);
    }

    void pictureLeavesOutItsTransparentColour() {
        QPixmap picture(16, 16);
        picture.fill(Qt::white);
        {
            QPainter painter(&picture);
            painter.fillRect(4, 4, 8, 8, QColor(200, 0, 0));
        }
        AeroButton button("Cancel");
        button.setPicture(picture, Qt::white);
        const QImage shown = button.picture().toImage();
        QCOMPARE(shown.size(), QSize(16, 16));
        QCOMPARE(qAlpha(shown.pixel(0, 0)), 0);
        QCOMPARE(shown.pixelColor(8, 8), QColor(200, 0, 0));

        // Without a declared colour the white stays.
        button.setPicture(picture);
        QCOMPARE(button.picture().toImage().pixelColor(0, 0), QColor(Qt::white));
    }

    void pictureStandsLeftOfTheCaption() {
        QPixmap picture(16, 16);
        picture.fill(QColor(0, 160, 0));
        AeroButton button("Refresh");
        button.setPicture(picture);
        button.resize(120, 25);
        const QImage image = rendered(button);
        int firstGreen = -1;
        for (int x = 0; x < image.width() && firstGreen < 0; ++x)
            if (image.pixelColor(x, 12) == QColor(0, 160, 0))
                firstGreen = x;
        QVERIFY(firstGreen > 6);
        QVERIFY(firstGreen < image.width() / 2);
        // The caption's ink lies to the right of the picture.
        bool inkRight = false;
        for (int x = firstGreen + 20; x < image.width() - 6 && !inkRight; ++x)
            for (int y = 6; y < 19 && !inkRight; ++y)
                inkRight = image.pixelColor(x, y).lightness() < 80;
        QVERIFY(inkRight);
    }

    void buttonLooksChangeWithState() {
        AeroButton button("About");
        button.resize(80, 25);
        const QImage normal = rendered(button);
        button.setEnabled(false);
        const QImage disabled = rendered(button);
        QVERIFY(normal != disabled);
        button.setEnabled(true);
        button.setDown(true);
        const QImage pressed = rendered(button);
        QVERIFY(pressed != normal);
        // Pressed turns the glass blue.
        const QColor face = pressed.pixelColor(4, 18);
        QVERIFY(face.blue() > face.red());
    }
};

QTEST_MAIN(tst_ZebControls)
#include "tst_ZebControls.moc"
