// A window with every widget and picture of widgets/, to look at them.
// With --zoom the pictures are also shown enlarged.
#include "AeroButton.h"
#include "HtmlView.h"
#include "ProgressBar.h"
#include "ZebCheck.h"
#include "ZebLabel.h"
#include "ZebOption.h"
#include "modIcon.h"

#include <QApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {
struct ButtonSpec {
    const char* caption;
    modIcon::Picture picture;
};

QWidget* buttonRow(QWidget* parent) {
    const ButtonSpec specs[] = {
        {"Refresh", modIcon::Picture::CirclingArrows},
        {"Convert", modIcon::Picture::CurvedArrow},
        {"Homepage", modIcon::Picture::Globe},
        {"Check for Updates", modIcon::Picture::RedDownArrow},
        {"&About", modIcon::Picture::Information},
    };
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    for (const ButtonSpec& spec : specs) {
        auto* button = new AeroButton(QString::fromLatin1(spec.caption), row);
        button->setPicture(modIcon::ButtonPicture(spec.picture), modIcon::kPictureTransparentColor);
        button->setFixedHeight(25);
        layout->addWidget(button);
    }
    return row;
}

QWidget* informationFrame(QWidget* parent) {
    auto* frame = new QGroupBox(QStringLiteral("Information"), parent);
    auto* layout = new QGridLayout(frame);
    auto* bar = new ProgressBar(frame);
    bar->setMax(100);
    bar->setValue(45);
    layout->addWidget(bar, 0, 0, 1, 3);
    auto* empty = new ProgressBar(frame);
    empty->setMax(0);
    empty->setValue(12);
    layout->addWidget(empty, 1, 0, 1, 3);
    layout->addWidget(new QLabel(QStringLiteral("File Name : "), frame), 2, 0);
    auto* cancel = new AeroButton(QStringLiteral("Cancel"), frame);
    cancel->setPicture(modIcon::ButtonPicture(modIcon::Picture::RedCross),
                       modIcon::kPictureTransparentColor);
    cancel->setEnabled(false);
    layout->addWidget(cancel, 2, 2);
    return frame;
}

QWidget* destinationFrame(QWidget* parent) {
    auto* frame = new QGroupBox(QStringLiteral("Destination"), parent);
    auto* layout = new QHBoxLayout(frame);
    layout->addWidget(new QLineEdit(QStringLiteral("/home/user/Documents/Morvane/Vantelo"), frame));
    auto* browse = new AeroButton(QStringLiteral("Browse"), frame);
    browse->setPicture(modIcon::ButtonPicture(modIcon::Picture::FolderMagnifier));
    layout->addWidget(browse);
    auto* open = new AeroButton(QStringLiteral("Open"), frame);
    open->setPicture(modIcon::ButtonPicture(modIcon::Picture::FolderArrow),
                     modIcon::kPictureTransparentColor);
    layout->addWidget(open);
    return frame;
}

QWidget* optionPanel(QWidget* parent) {
    auto* panel = new QGroupBox(QStringLiteral("Audio"), parent);
    const QColor back(0xE8, 0xEE, 0xF6);
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, back);
    panel->setPalette(pal);
    panel->setAutoFillBackground(true);
    auto* layout = new QGridLayout(panel);
    layout->addWidget(new ZebLabel(QStringLiteral("Channels"), panel), 0, 0);
    auto* mono = new ZebOption(QStringLiteral("Mono"), panel);
    auto* stereo = new ZebOption(QStringLiteral("Stereo"), panel);
    mono->setBackColor(back);
    stereo->setBackColor(back);
    mono->setValue(true);
    layout->addWidget(mono, 0, 1);
    layout->addWidget(stereo, 0, 2);
    auto* quality = new ZebCheck(QStringLiteral("Same quality"), panel);
    quality->setBackColor(back);
    quality->setValue(1);
    layout->addWidget(quality, 1, 1, 1, 2);
    auto* busy = new ProgressBar(panel);
    busy->setValue(37);
    layout->addWidget(busy, 2, 0, 1, 3);
    return panel;
}

QWidget* iconRow(QWidget* parent, int zoom) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    for (const int size : modIcon::IconSizes()) {
        auto* label = new QLabel(row);
        label->setPixmap(modIcon::MainIconImage(size));
        layout->addWidget(label, 0, Qt::AlignBottom);
    }
    if (zoom > 1) {
        for (int i = 0; i < 8; ++i) {
            auto* label = new QLabel(row);
            const QPixmap picture = modIcon::ButtonPicture(modIcon::Picture(i));
            label->setPixmap(
                picture.scaled(16 * zoom, 16 * zoom, Qt::KeepAspectRatio, Qt::FastTransformation));
            layout->addWidget(label, 0, Qt::AlignBottom);
        }
        auto* small = new QLabel(row);
        small->setPixmap(modIcon::MainIconImage(16).scaled(
            16 * zoom, 16 * zoom, Qt::KeepAspectRatio, Qt::FastTransformation));
        layout->addWidget(small, 0, Qt::AlignBottom);
    }
    layout->addStretch();
    return row;
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const int zoom = app.arguments().contains(QStringLiteral("--zoom")) ? 3 : 1;
    QWidget window;
    modIcon::SetWindowIcon(&window, QStringLiteral("MAINICON"), true);
    window.setWindowTitle(QStringLiteral("Vantelo widgets"));
    auto* layout = new QVBoxLayout(&window);

    auto* address = new QHBoxLayout;
    auto* urlLabel = new QLabel(QStringLiteral("YouTube URL:"), &window);
    urlLabel->setStyleSheet(QStringLiteral("color: red; font-weight: bold"));
    address->addWidget(urlLabel);
    address->addWidget(new QLineEdit(QStringLiteral("http://"), &window), 1);
    auto* download = new AeroButton(QStringLiteral("Download"), &window);
    download->setPicture(modIcon::ButtonPicture(modIcon::Picture::RedDownArrow),
                         modIcon::kPictureTransparentColor);
    address->addWidget(download);
    layout->addLayout(address);
    download->setDefault(true);

    auto* middle = new QHBoxLayout;
    auto* player = new QLabel(&window);
    player->setPixmap(modIcon::IdlePlayerPicture());
    middle->addWidget(player, 0, Qt::AlignTop);
    auto* frames = new QVBoxLayout;
    frames->addWidget(informationFrame(&window));
    frames->addWidget(destinationFrame(&window));
    middle->addLayout(frames, 1);
    layout->addLayout(middle);
    layout->addWidget(buttonRow(&window));

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(optionPanel(&window));
    auto* view = new HtmlView(&window);
    view->Navigate(QStringLiteral(
        "about:<html><body><h3 style='color:#c05000'>Morvane</h3><p>An <b>about:</b> page "
        "in the HTML view, <a href='http://example.com/'>with a link</a>.</p></body></html>"));
    view->setFixedSize(260, 110);
    bottom->addWidget(view);
    layout->addLayout(bottom);
    layout->addWidget(iconRow(&window, zoom));

    window.show();
    return app.exec();
}
