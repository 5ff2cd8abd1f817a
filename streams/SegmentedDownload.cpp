#include "SegmentedDownload.h"

#include "HostSlots.h"
#include "SegmentCheck.h"
#include "SegmentCipher.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// The note on the .part: which plan it holds, how many pieces are whole, the bytes they fill.
constexpr const char* kNoteAttribute = "user.vantelo.segments";
// How far ahead of the piece being written fetches may run, in slots of a host.
constexpr int kAheadPerSlot = 4;
// A key is 16 bytes; a server that sends more is not sending a key.
constexpr qint64 kMaxKeyBytes = 1024;
// Enough of the file's start to tell its container past an ID3 tag.
constexpr qsizetype kHeadBytes = 64 * 1024;

QString FileFailure(const char* action, const QString& path, int reason) {
    return QStringLiteral("Cannot %1 %2: %3")
        .arg(QLatin1String(action), QDir::toNativeSeparators(path),
             QString::fromLocal8Bit(std::strerror(reason)));
}

bool WriteAll(int fd, const QByteArray& bytes) {
    qint64 at = 0;
    while (at < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.constData() + at, size_t(bytes.size() - at));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        at += count;
    }
    return true;
}

// Never through a link, never anything but a plain file (a pipe of that name must not hold the
// open up). -1 and errno on failure.
int OpenForWriting(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    struct stat status;
    if (fd >= 0 && (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))) {
        ::close(fd);
        errno = EEXIST;
        return -1;
    }
    if (fd >= 0)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

std::optional<QByteArray> ReadPlainFile(const QString& path) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QFile file;
    std::optional<QByteArray> bytes;
    struct stat status;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
        file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        bytes = file.readAll();
    else
        ::close(fd);
    return bytes;
}

} // namespace

SegmentedDownload::SegmentedDownload(const Streams::Track& track, const QString& partPath,
                                     const Options& options, QObject* parent)
    : QObject(parent), partPath_(partPath), options_(options),
      slots_(options.hostSlots ? options.hostSlots : &HostSlots::Shared()) {
    BuildPieces(track);
    connect(slots_, &HostSlots::SlotFreed, this, [this] {
        if (running_ && keysToFetch_.isEmpty())
            Pump();
    });
}

SegmentedDownload::~SegmentedDownload() {
    Abort();
}

void SegmentedDownload::BuildPieces(const Streams::Track& track) {
    keyList_ = track.keys;
    int lastInit = -1;
    double sum = 0;
    QCryptographicHash plan(QCryptographicHash::Sha256);
    for (int i = 0; i < track.segments.size(); ++i) {
        const Streams::Segment& segment = track.segments[i];
        if (segment.initIndex >= 0 && segment.initIndex != lastInit &&
            segment.initIndex < track.inits.size()) {
            pieces_.append({track.inits[segment.initIndex], 0});
            lastInit = segment.initIndex;
        }
        pieces_.append({segment, i + 1});
        sum += segment.duration;
    }
    for (const Piece& piece : pieces_) {
        const Streams::Segment& s = piece.segment;
        const QString keyUrl = s.keyIndex >= 0 && s.keyIndex < keyList_.size()
                                   ? keyList_[s.keyIndex].url.toString()
                                   : QString();
        plan.addData(QStringLiteral("%1 %2 %3 %4 %5\n")
                         .arg(s.url.toString())
                         .arg(s.offset)
                         .arg(s.length)
                         .arg(keyUrl, QString::fromLatin1(s.iv.toHex()))
                         .toUtf8());
    }
    planId_ = plan.result().toHex().left(16);
    duration_ = track.duration > 0 ? track.duration : sum;
}

void SegmentedDownload::Start() {
    running_ = true;
    fd_ = OpenForWriting(partPath_);
    if (fd_ < 0) {
        Fail(FileFailure("create", partPath_, errno));
        return;
    }
    if (!Resume()) {
        Fail(FileFailure("write", partPath_, errno));
        return;
    }
    RemoveOtherSpills();
    for (int i = done_; i < pieces_.size(); ++i) {
        const int key = pieces_[i].segment.keyIndex;
        if (key >= 0 && !spilled_.contains(i) && !keysToFetch_.contains(key))
            keysToFetch_.append(key);
    }
    Report();
    if (keysToFetch_.isEmpty())
        Pump();
    else
        FetchKeys();
}

bool SegmentedDownload::Resume() {
    // The note says how much of the file is whole; bytes past it are a piece cut short.
    QByteArray text(256, Qt::Uninitialized);
    const ssize_t length = ::fgetxattr(fd_, kNoteAttribute, text.data(), size_t(text.size()));
    const QList<QByteArray> note = text.left(std::max<ssize_t>(length, 0)).split('\n');
    bool doneOk = false, bytesOk = false;
    const int done = note.size() == 3 ? note[1].toInt(&doneOk) : 0;
    const qint64 bytes = note.size() == 3 ? note[2].toLongLong(&bytesOk) : 0;
    struct stat status;
    const bool fits = ::fstat(fd_, &status) == 0 && note.size() == 3 && note[0] == planId_ &&
                      doneOk && bytesOk && done >= 0 && done <= pieces_.size() && bytes >= 0 &&
                      bytes <= status.st_size;
    done_ = fits ? done : 0;
    written_ = fits ? bytes : 0;
    for (int i = 0; i < done_; ++i)
        secondsDone_ += pieces_[i].segment.duration;
    bytesDone_ = written_;
    nextToStart_ = done_;
    if (::ftruncate(fd_, written_) != 0 || ::lseek(fd_, written_, SEEK_SET) < 0)
        return false;
    if (written_ > 0) {
        QByteArray head(std::min<qint64>(written_, kHeadBytes), Qt::Uninitialized);
        const ssize_t count = ::pread(fd_, head.data(), size_t(head.size()), 0);
        writtenKind_ = SegmentCheck::KindOf(head.left(std::max<ssize_t>(count, 0)));
    }
    // Pieces that were whole ahead of their turn wait beside the file.
    for (int i = done_; i < pieces_.size() && i < done_ + slots_->PerHost() * kAheadPerSlot; ++i) {
        const QFileInfo spill(SpillPath(i));
        if (spill.isFile() && !spill.isSymLink()) {
            spilled_.insert(i, spill.size());
            bytesDone_ += spill.size();
            secondsDone_ += pieces_[i].segment.duration;
        }
    }
    if (!fits)
        WriteNote();
    return true;
}

QString SegmentedDownload::SpillPath(int index) const {
    return partPath_ + QLatin1Char('.') + QString::fromLatin1(planId_.left(8)) + QLatin1Char('.') +
           QString::number(index);
}

void SegmentedDownload::RemoveOtherSpills() const {
    // Those of another plan under the same name can never be used.
    const QFileInfo part(partPath_);
    const QRegularExpression spill(QStringLiteral("^%1\\.([0-9a-f]{8})\\.[0-9]+(\\.new)?$")
                                       .arg(QRegularExpression::escape(part.fileName())));
    const QDir folder = part.dir();
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const QRegularExpressionMatch match = spill.match(name);
        if (match.hasMatch() &&
            (match.captured(1).toLatin1() != planId_.left(8) || match.hasCaptured(2)))
            QFile::remove(folder.filePath(name));
    }
}

void SegmentedDownload::FetchKeys() {
    const int key = keysToFetch_.first();
    Streams::Segment piece;
    piece.url = key < keyList_.size() ? keyList_[key].url : QUrl();
    SegmentFetch::Settings settings = options_;
    settings.maxBytes = kMaxKeyBytes;
    auto* fetch = new SegmentFetch(piece, settings, this);
    fetching_.insert(-1, fetch);
    connect(fetch, &SegmentFetch::Finished, this, [this, key] { KeyFetched(key); });
    fetch->Start();
}

void SegmentedDownload::KeyFetched(int key) {
    SegmentFetch* fetch = fetching_.take(-1);
    fetch->deleteLater();
    const QString where = key < keyList_.size() ? keyList_[key].url.toDisplayString() : QString();
    if (!fetch->Ok()) {
        Fail(QStringLiteral("The key at %1 could not be fetched: %2")
                 .arg(where, fetch->ErrorString()));
        return;
    }
    const QByteArray bytes = fetch->TakeBody();
    if (bytes.size() != 16) {
        Fail(QStringLiteral("The key at %1 is no AES-128 key").arg(where));
        return;
    }
    keys_.insert(key, bytes);
    keysToFetch_.removeFirst();
    if (keysToFetch_.isEmpty())
        Pump();
    else
        FetchKeys();
}

void SegmentedDownload::Pump() {
    if (running_ && failed_.contains(done_)) {
        Fail(failed_.value(done_));
        return;
    }
    // The pieces whose turn has come go into the file.
    while (running_ && done_ < pieces_.size() &&
           (ready_.contains(done_) || spilled_.contains(done_))) {
        std::optional<QByteArray> bytes;
        if (ready_.contains(done_)) {
            bytes = ready_.take(done_);
        } else {
            bytes = ReadPlainFile(SpillPath(done_));
            if (!bytes || bytes->size() != spilled_.value(done_)) {
                // Gone or changed: fetched again.
                bytesDone_ -= spilled_.take(done_);
                secondsDone_ -= pieces_[done_].segment.duration;
                if (nextToStart_ > done_)
                    nextToStart_ = done_;
                break;
            }
            spilled_.remove(done_);
        }
        if (!WriteHead(*bytes))
            return;
        QFile::remove(SpillPath(done_ - 1));
        if (failed_.contains(done_)) {
            Fail(failed_.value(done_));
            return;
        }
    }
    if (!running_)
        return;
    if (done_ == pieces_.size() && fetching_.isEmpty()) {
        Complete();
        return;
    }
    const int ahead = slots_->PerHost() * kAheadPerSlot;
    for (int i = done_; i < pieces_.size() && i < done_ + ahead; ++i) {
        if (fetching_.contains(i) || ready_.contains(i) || spilled_.contains(i) ||
            failed_.contains(i) || i < done_)
            continue;
        if (!slots_->TryTake(pieces_[i].segment.url.host()))
            break;
        StartPiece(i);
    }
}

void SegmentedDownload::StartPiece(int index) {
    ++requested_;
    auto* fetch = new SegmentFetch(pieces_[index].segment, options_, this);
    fetch->SetCheck([this, index](QByteArray& body, const QByteArray& contentType) {
        return Ready(index, body, contentType);
    });
    fetching_.insert(index, fetch);
    connect(fetch, &SegmentFetch::Progressed, this, &SegmentedDownload::Report);
    connect(fetch, &SegmentFetch::Finished, this, [this, index] { PieceFetched(index); });
    fetch->Start();
}

void SegmentedDownload::PieceFetched(int index) {
    SegmentFetch* fetch = fetching_.take(index);
    fetch->deleteLater();
    // The slot is given back once the piece is stored: others waiting for it start then.
    const bool stored = running_ && StorePiece(index, *fetch);
    slots_->Give(pieces_[index].segment.url.host());
    if (stored)
        Pump();
}

bool SegmentedDownload::StorePiece(int index, SegmentFetch& fetch) {
    const Piece& piece = pieces_[index];
    if (!fetch.Ok()) {
        failed_.insert(index, PieceFailure(piece, fetch.ErrorString()));
        return true;
    }
    const QByteArray bytes = fetch.TakeBody();
    bytesDone_ += bytes.size();
    secondsDone_ += piece.segment.duration;
    if (index == done_) {
        if (!WriteHead(bytes))
            return false;
    } else if (Spill(index, bytes)) {
        spilled_.insert(index, bytes.size());
    } else {
        ready_.insert(index, bytes);
    }
    Report();
    return true;
}

QString SegmentedDownload::Ready(int index, QByteArray& body, const QByteArray& contentType) {
    // A text answer is named as such, before its decryption could fail; the container is
    // judged on the plain bytes.
    if (const QString text = SegmentCheck::TypeProblem(contentType); !text.isEmpty())
        return text;
    const Streams::Segment& segment = pieces_[index].segment;
    if (segment.keyIndex >= 0) {
        QString why;
        const auto plain =
            SegmentCipher::Decrypt(body, keys_.value(segment.keyIndex), segment.iv, why);
        if (!plain)
            return why;
        body = *plain;
    }
    return SegmentCheck::Problem(body, pieces_[index].number == 0);
}

bool SegmentedDownload::WriteHead(const QByteArray& bytes) {
    // One file holds one container, begun by its header.
    const QString mixed = SegmentCheck::SequenceProblem(writtenKind_, bytes);
    if (!mixed.isEmpty()) {
        Fail(PieceFailure(pieces_[done_], mixed));
        return false;
    }
    if (writtenKind_ == SegmentCheck::Kind::Unknown)
        writtenKind_ = SegmentCheck::KindOf(bytes);
    if (!WriteAll(fd_, bytes)) {
        Fail(FileFailure("write", partPath_, errno));
        return false;
    }
    ++done_;
    written_ += bytes.size();
    WriteNote();
    return true;
}

bool SegmentedDownload::Spill(int index, const QByteArray& bytes) {
    // Written under a passing name and renamed: a spill file of the right name is whole.
    const QString path = SpillPath(index);
    const QString passing = path + QStringLiteral(".new");
    const int fd = OpenForWriting(passing);
    if (fd < 0)
        return false;
    const bool written = ::ftruncate(fd, 0) == 0 && WriteAll(fd, bytes);
    ::close(fd);
    if (written &&
        ::rename(QFile::encodeName(passing).constData(), QFile::encodeName(path).constData()) == 0)
        return true;
    QFile::remove(passing);
    return false;
}

void SegmentedDownload::WriteNote() {
    const QByteArray text =
        planId_ + '\n' + QByteArray::number(done_) + '\n' + QByteArray::number(written_);
    ::fsetxattr(fd_, kNoteAttribute, text.constData(), size_t(text.size()), 0);
}

void SegmentedDownload::Report() {
    qint64 inFlight = 0;
    for (auto it = fetching_.begin(); it != fetching_.end(); ++it)
        if (it.key() >= 0)
            inFlight += it.value()->Received();
    // A try that starts over takes back what it had, but what was shown stays shown.
    const qint64 received = std::max(received_, bytesDone_ + inFlight);
    qint64 total = total_;
    if (secondsDone_ > 0 && duration_ > 0)
        total = std::max(total, qint64(double(bytesDone_) * duration_ / secondsDone_));
    if (done_ == pieces_.size())
        total = std::max(total, bytesDone_);
    if (total > 0)
        total = std::max(total, received);
    if (received == received_ && total == total_)
        return;
    received_ = received;
    total_ = total;
    emit Progress(received_, total_);
}

QString SegmentedDownload::PieceFailure(const Piece& piece, const QString& why) const {
    if (piece.number == 0)
        return QStringLiteral("The initialisation segment at %1 could not be fetched: %2")
            .arg(piece.segment.url.toDisplayString(), why);
    return Streams::SegmentFailureText(piece.number, piece.segment, why);
}

void SegmentedDownload::StopFetches() {
    for (auto it = fetching_.begin(); it != fetching_.end(); ++it) {
        it.value()->Abort();
        it.value()->deleteLater();
        if (it.key() >= 0)
            slots_->Give(pieces_[it.key()].segment.url.host());
    }
    fetching_.clear();
}

void SegmentedDownload::Abort() {
    running_ = false;
    StopFetches();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void SegmentedDownload::Fail(const QString& error) {
    // The whole pieces stay on disk, noted, for the next try.
    Abort();
    error_ = error;
    emit Finished();
}

void SegmentedDownload::Complete() {
    ::fremovexattr(fd_, kNoteAttribute);
    Report();
    Abort();
    succeeded_ = true;
    emit Finished();
}
