#pragma once
#include "YtDlpInfo.h"
#include "YtDlpOutput.h"

#include <QObject>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>

class QProcess;
class QTemporaryDir;

// Runs yt-dlp for one page at a time: to read it (what video, which formats) or to download
// one format that our own downloader does not fetch.
//
// How the page-reading step uses it. For a page that is not of the 2008 layout, start
// ReadPage at the same time as our own standards reader, and settle the answer thus:
//  - Read(info) with info.FromSiteReader(): a site's own reader knew the page; its answer wins,
//    whatever ours found.
//  - otherwise our reader's answer wins; yt-dlp's generic answer (Read with a generic info) is
//    used only when ours found nothing, and its Failed text only when neither found anything.
//  - Unavailable(): there is no yt-dlp (or it cannot start). "No video was found on this page"
//    then adds YtDlpOutput::NotInstalledHint().
// Our reader may settle first (it found nothing yet, so wait; it found something, so wait only
// for a site reader's answer, and give up waiting when the caller starts the download). Once the
// answer is settled, or the user cancels, call Cancel(): yt-dlp and everything it started end.
//
// Formats are fetched by our own downloader when YtDlpFormat::FetchedByUs (with the format's
// http_headers and fragments). The others go to DownloadFormat, which writes into a private
// folder of its own inside `outputFolder`; Progress drives the window; Downloaded names the file,
// which the caller puts in place with FinishedFile before it returns to the event loop (the
// folder goes with the runner's next run, Cancel, or the runner).
//
// yt-dlp leads a process group of its own and dies with this program; what it started and left
// (in its group, or in a session of its own) ends with its run. The page address comes
// after "--"; the only other outside texts are the format id, which must be a plain id, and
// the Firefox profile (YtDlpProgram::CookieArguments), checked there. stdout and stderr are read
// with bounds; an answer that does not come in time, or a download that says nothing for too
// long, is ended. Each run ends in exactly one of Read, Downloaded, Failed and Unavailable,
// delivered from the event loop, unless it is cancelled.
class YtDlpRunner : public QObject {
    Q_OBJECT
public:
    // yt-dlp reads most pages in seconds; a site reader that pages through an API may take tens.
    static constexpr int DefaultAnswerMs = 120000;
    // A download whose progress stops for this long is taken to hang.
    static constexpr int DefaultSilenceMs = 120000;
    // Lines of yt-dlp's longer than this are cut; only ERROR: lines are kept at all.
    static constexpr int MaxLineBytes = 8192;

    explicit YtDlpRunner(QObject* parent = nullptr);
    ~YtDlpRunner() override;

    // yt-dlp --dump-single-json --no-playlist -- page. Ends in Read, Failed or Unavailable.
    void ReadPage(const QUrl& page);
    // yt-dlp -f formatId into a new private folder inside outputFolder. Ends in Downloaded,
    // Failed or Unavailable, with Progress along the way.
    void DownloadFormat(const QUrl& page, const QString& formatId, const QString& outputFolder);
    // Ends yt-dlp's process group at once and removes the download folder; no signal follows.
    void Cancel();

    bool IsRunning() const;
    // The process group of the running yt-dlp (its process id); 0 when none runs.
    qint64 ProcessGroup() const;
    // How long an answer may take, and how long a download may stay silent.
    void SetTimeouts(int answerMs, int silenceMs);

signals:
    void Read(const YtDlpInfo& info);
    void Progress(const YtDlpOutput::Progress& progress);
    void Downloaded(const QString& path);
    void Failed(const QString& text);
    // There is no yt-dlp to run.
    void Unavailable();

private:
    enum class Mode { Read, Download };

    void Start(Mode mode, const QUrl& page, const QStringList& arguments);
    void Fail(const QString& text);
    void Later(std::function<void()> news);
    void TakeOutput();
    void TakeErrors();
    void TakeLine(const QByteArray& line, bool fromStderr);
    void Finished(int exitCode, bool crashed);
    void TimedOut();
    void EndProcess();
    QString DownloadedFile() const;

    Mode mode_ = Mode::Read;
    quint64 run_ = 0;
    QUrl page_;
    QProcess* process_ = nullptr;
    qint64 group_ = 0;
    // Carried by yt-dlp and whatever it starts (ChildProcess::NewTag).
    QByteArray tag_;
    std::unique_ptr<QTemporaryDir> folder_;
    QByteArray json_;
    QByteArray pendingOut_;
    QByteArray pendingErr_;
    std::optional<YtDlpOutput::Error> lastError_;
    bool tooLarge_ = false;
    bool timedOut_ = false;
    QTimer deadline_;
    int answerMs_ = DefaultAnswerMs;
    int silenceMs_ = DefaultSilenceMs;
};
