#include "YtDlpRunner.h"

#include "ChildProcess.h"
#include "YtDlpProgram.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <unistd.h>

namespace {

Q_LOGGING_CATEGORY(lcRequest, "vantelo.fetcher.request", QtWarningMsg)

// yt-dlp ends within a moment of SIGKILL; this only bounds a process stuck in the kernel.
constexpr int kReapWaitMs = 2000;

bool IsWebAddress(const QUrl& url) {
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

// A format id as yt-dlp makes them ("137", "hls-720p", "dash-video=800000"): nothing that its
// format selection would read as an operator ("+", "/", "[", ",") and no leading "-".
bool IsPlainFormatId(const QString& id) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9_.=-]{0,99}$"));
    return plain.match(id).hasMatch();
}

// "%" starts a field in yt-dlp's output template; a folder's own must stay a character.
QString TemplateEscaped(const QString& path) {
    QString escaped = path;
    return escaped.replace(QLatin1Char('%'), QStringLiteral("%%"));
}

// The complete lines at the front of `pending`, taken out of it; what stays is cut to
// `maxLine` bytes, so that a line without end cannot grow without bound.
QList<QByteArray> TakeLines(QByteArray& pending, int maxLine) {
    QList<QByteArray> lines;
    int start = 0;
    for (int end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n', start)) {
        lines.append(pending.mid(start, std::min(end - start, maxLine)));
        start = end + 1;
    }
    pending.remove(0, start);
    if (pending.size() > maxLine)
        pending.truncate(maxLine);
    return lines;
}

} // namespace

YtDlpRunner::YtDlpRunner(QObject* parent) : QObject(parent) {
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, &YtDlpRunner::TimedOut);
}

YtDlpRunner::~YtDlpRunner() {
    Cancel();
}

void YtDlpRunner::SetTimeouts(int answerMs, int silenceMs) {
    answerMs_ = answerMs;
    silenceMs_ = silenceMs;
}

bool YtDlpRunner::IsRunning() const {
    return process_ != nullptr;
}

qint64 YtDlpRunner::ProcessGroup() const {
    return process_ ? group_ : 0;
}

void YtDlpRunner::ReadPage(const QUrl& page) {
    Start(Mode::Read, page, {QStringLiteral("--dump-single-json")});
}

void YtDlpRunner::DownloadFormat(const QUrl& page, const QString& formatId,
                                 const QString& outputFolder) {
    Cancel();
    if (!IsPlainFormatId(formatId)) {
        Fail(QStringLiteral("yt-dlp was given no plain format to download: ") + page.toString());
        return;
    }
    // Private (0700) and beside the output, so that the finished file moves into place without
    // a copy.
    folder_ = std::make_unique<QTemporaryDir>(
        QDir(outputFolder).filePath(QStringLiteral(".vantelo-yt-dlp-XXXXXX")));
    if (!folder_->isValid()) {
        Fail(QStringLiteral("A folder for yt-dlp's download could not be made in ") + outputFolder +
             QStringLiteral(": ") + folder_->errorString());
        return;
    }
    Start(Mode::Download, page,
          {QStringLiteral("-f"), formatId, QStringLiteral("--newline"),
           QStringLiteral("--no-mtime"), QStringLiteral("--progress-template"),
           YtDlpOutput::ProgressTemplate(), QStringLiteral("-o"),
           TemplateEscaped(folder_->path()) + QStringLiteral("/file.%(ext)s")});
}

void YtDlpRunner::Start(Mode mode, const QUrl& page, const QStringList& arguments) {
    if (mode == Mode::Read)
        Cancel();
    ++run_;
    mode_ = mode;
    page_ = page;
    json_.clear();
    pendingOut_.clear();
    pendingErr_.clear();
    lastError_.reset();
    tooLarge_ = timedOut_ = false;
    if (!IsWebAddress(page)) {
        Fail(QStringLiteral("An address that is not http or https: ") + page.toString());
        return;
    }
    const QString program = YtDlpProgram::Path();
    if (program.isEmpty()) {
        Later([this] { emit Unavailable(); });
        return;
    }
    // No configuration file of the user's may change what yt-dlp prints or where it writes.
    QStringList all = {QStringLiteral("--ignore-config"), QStringLiteral("--no-colors"),
                       QStringLiteral("--no-playlist")};
    all += arguments;
    all += YtDlpProgram::CookieArguments();
    all += {QStringLiteral("--"), page.toString(QUrl::FullyEncoded)};

    process_ = new QProcess(this);
    process_->setStandardInputFile(QProcess::nullDevice());
    process_->setWorkingDirectory(folder_ ? folder_->path() : QDir::tempPath());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PYTHONIOENCODING"), QStringLiteral("utf-8"));
    environment.insert(QStringLiteral("PYTHONUNBUFFERED"), QStringLiteral("1"));
    // What it leaves behind, even in a session of its own, is found by this and ends with it.
    tag_ = ChildProcess::NewTag();
    environment.insert(QLatin1String(ChildProcess::kTagVariable), QString::fromLatin1(tag_));
    process_->setProcessEnvironment(environment);
    // yt-dlp has nothing to clean up that we do not: it is killed with us.
    const pid_t parent = ::getpid();
    process_->setChildProcessModifier(
        [parent] { ChildProcess::LeadOwnGroupAndDieWithParent(parent, SIGKILL); });
    connect(process_, &QProcess::readyReadStandardOutput, this, &YtDlpRunner::TakeOutput);
    connect(process_, &QProcess::readyReadStandardError, this, &YtDlpRunner::TakeErrors);
    // Queued, so that handlers run from the event loop; a run's news never reaches a later one.
    connect(
        process_, &QProcess::finished, this,
        [this, run = run_](int code, QProcess::ExitStatus status) {
            if (run == run_)
                Finished(code, status != QProcess::NormalExit);
        },
        Qt::QueuedConnection);
    qCDebug(lcRequest) << program << all;
    process_->start(program, all);
    if (!process_->waitForStarted()) {
        EndProcess();
        Later([this] { emit Unavailable(); });
        return;
    }
    group_ = process_->processId();
    ChildProcess::TrackGroup(group_);
    deadline_.start(mode == Mode::Read ? answerMs_ : silenceMs_);
}

void YtDlpRunner::Cancel() {
    ++run_;
    EndProcess();
    folder_.reset();
}

void YtDlpRunner::EndProcess() {
    deadline_.stop();
    if (!process_)
        return;
    process_->disconnect(this);
    ChildProcess::ForgetGroup(group_);
    ChildProcess::EndDescendants(group_, tag_);
    process_->waitForFinished(kReapWaitMs);
    // This may run inside one of the process's own signals.
    process_->deleteLater();
    process_ = nullptr;
    group_ = 0;
}

// Failures are told from the event loop, as a run that ends by itself is.
void YtDlpRunner::Fail(const QString& text) {
    EndProcess();
    Later([this, text] { emit Failed(text); });
}

// Runs `news` from the event loop, unless the run is cancelled or another starts first.
void YtDlpRunner::Later(std::function<void()> news) {
    QMetaObject::invokeMethod(
        this,
        [this, news = std::move(news), run = run_] {
            if (run == run_)
                news();
        },
        Qt::QueuedConnection);
}

void YtDlpRunner::TakeOutput() {
    const QByteArray data = process_->readAllStandardOutput();
    if (mode_ == Mode::Read) {
        json_.append(data);
        if (json_.size() > YtDlpInfo::MaxJsonBytes) {
            json_.clear();
            Fail(QStringLiteral("yt-dlp's answer is too large to read: ") + page_.toString());
        }
        return;
    }
    pendingOut_.append(data);
    for (const QByteArray& line : TakeLines(pendingOut_, MaxLineBytes))
        TakeLine(line, false);
}

void YtDlpRunner::TakeErrors() {
    pendingErr_.append(process_->readAllStandardError());
    for (const QByteArray& line : TakeLines(pendingErr_, MaxLineBytes))
        TakeLine(line, true);
}

void YtDlpRunner::TakeLine(const QByteArray& line, bool fromStderr) {
    if (fromStderr) {
        if (auto error = YtDlpOutput::ErrorOfLine(line.trimmed()))
            lastError_ = error;
        return;
    }
    if (const auto progress = YtDlpOutput::ParseProgressLine(line.trimmed())) {
        deadline_.start(silenceMs_);
        emit Progress(*progress);
    }
}

void YtDlpRunner::TimedOut() {
    Fail((mode_ == Mode::Read ? QStringLiteral("yt-dlp did not answer in time: ")
                              : QStringLiteral("yt-dlp's download stopped: ")) +
         page_.toString());
}

void YtDlpRunner::Finished(int exitCode, bool crashed) {
    if (!process_)
        return;
    // The last words, which may lack a final line break.
    TakeOutput();
    TakeErrors();
    if (!process_)
        return;
    pendingOut_.append('\n');
    pendingErr_.append('\n');
    for (const QByteArray& line : TakeLines(pendingErr_, MaxLineBytes))
        TakeLine(line, true);
    if (mode_ == Mode::Download)
        for (const QByteArray& line : TakeLines(pendingOut_, MaxLineBytes))
            TakeLine(line, false);
    // Whatever it started and left behind ends with it.
    EndProcess();
    if (crashed || exitCode != 0) {
        const QString text =
            lastError_
                ? YtDlpOutput::FailureText(*lastError_, page_.toString())
                : QStringLiteral("yt-dlp could not read this page: %1 (it ended with code %2)")
                      .arg(page_.toString())
                      .arg(crashed ? -1 : exitCode);
        emit Failed(text);
        return;
    }
    if (mode_ == Mode::Download) {
        const QString path = DownloadedFile();
        if (path.isEmpty())
            emit Failed(QStringLiteral("yt-dlp's download left no file: ") + page_.toString());
        else if (QFileInfo(path).size() == 0)
            emit Failed(QStringLiteral("yt-dlp's download left an empty file: ") +
                        page_.toString());
        else
            emit Downloaded(path);
        return;
    }
    const std::optional<YtDlpInfo> info = YtDlpInfo::Parse(json_);
    json_.clear();
    if (info)
        emit Read(*info);
    else
        emit Failed(QStringLiteral("yt-dlp's answer could not be read: ") + page_.toString());
}

// The one plain file yt-dlp finished in our folder ("file.<ext>"); empty when there is not
// exactly one.
QString YtDlpRunner::DownloadedFile() const {
    if (!folder_)
        return QString();
    QStringList found;
    const QFileInfoList entries =
        QDir(folder_->path())
            .entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        const QString name = entry.fileName();
        if (!name.startsWith(QLatin1String("file.")) || name.endsWith(QLatin1String(".part")) ||
            name.endsWith(QLatin1String(".ytdl")))
            continue;
        if (entry.isSymLink() || !entry.isFile())
            return QString();
        found.append(entry.filePath());
    }
    return found.size() == 1 ? found.first() : QString();
}
