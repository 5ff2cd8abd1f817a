#include "ClipboardReader.h"

#include "Desktop.h"

#include <QClipboard>
#include <QGuiApplication>
#include <system_error>
#include <thread>

namespace {
// How often a running read is looked at; well under what a user notices.
constexpr int kPollMs = 20;
} // namespace

ClipboardReader::ClipboardReader(QObject* parent) : QObject(parent) {
    poll_.setInterval(kPollMs);
    connect(&poll_, &QTimer::timeout, this, &ClipboardReader::CheckRead);
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        connect(clipboard, &QClipboard::changed, this, [this](QClipboard::Mode mode) {
            if (mode == QClipboard::Clipboard)
                ClipboardChanged();
        });
}

std::optional<QString> ClipboardReader::Text() {
    if (text_ || reading_.valid())
        return text_;
    std::promise<QString> answer;
    reading_ = answer.get_future();
    readAfter_ = changes_;
    try {
        // The worker owns its promise and finishes on its own; a reader gone by then drops
        // the answer.
        std::thread([answer = std::move(answer)]() mutable {
            answer.set_value(Desktop::instance().clipboardText());
        }).detach();
    } catch (const std::system_error&) {
        reading_ = std::future<QString>();
        return std::nullopt; // no thread to spare: as if the clipboard held no text
    }
    poll_.start();
    return std::nullopt;
}

void ClipboardReader::ClipboardChanged() {
    ++changes_;
    text_.reset();
}

void ClipboardReader::CheckRead() {
    if (!reading_.valid() ||
        reading_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        return;
    }
    poll_.stop();
    const QString text = reading_.get();
    reading_ = std::future<QString>();
    // A read that started before the latest change may hold the old text: keep it for no one.
    if (readAfter_ == changes_)
        text_ = text;
    emit TextRead(text);
}
