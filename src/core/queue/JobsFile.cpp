#include "core/queue/JobsFile.h"

#include "core/app/AtomicFile.h"
#include "core/app/MyUtils.h"
#include "core/l10n/ResMessages.h"

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>

namespace quillo {

namespace {

constexpr char kEntryMarker = 0x00;
constexpr std::uint8_t kFinishedKind = 3;

// Thrown inside the reader for an entry that cannot be parsed; carries the reason in words.
struct TEntryError {
    std::string Reason;
};

// Reads the fields of one entry. Every field must be there in full: a fixed-size field cut
// short by the end of the data is as much a damaged entry as a cut string.
class TFieldReader {
public:
    explicit TFieldReader(QIODevice& stream)
        : FStream(stream), FEnd(stream.isSequential() ? -1 : stream.size()) {}

    void Exact(void* data, qint64 size) {
        if (FStream.read(static_cast<char*>(data), size) != size)
            throw EReadError();
    }

    std::int64_t Int64() {
        unsigned char b[8];
        Exact(b, 8);
        std::uint64_t v = 0;
        for (int i = 7; i >= 0; --i)
            v = (v << 8) | b[i];
        return static_cast<std::int64_t>(v);
    }

    double Double() {
        const std::uint64_t bits = static_cast<std::uint64_t>(Int64());
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }

    // A length that announces more than the data still holds is damage: refuse it before
    // reading (ReadLStr would also fail, but only after reading the rest of the data).
    void String(std::string& s) {
        if (FEnd >= 0) {
            unsigned char b[4];
            if (FStream.peek(reinterpret_cast<char*>(b), 4) == 4) {
                const std::uint32_t n =
                    static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                    static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
                if (n > 0x7FFFFFFFu || static_cast<qint64>(n) > FEnd - FStream.pos() - 4)
                    throw EReadError();
            }
        }
        ReadLStr(FStream, s);
    }

    // The first five fields are the same in both kinds of entry.
    template <class TRecord> void Head(TRecord& r) {
        String(r.FileName);
        r.FileSize = Int64();
        String(r.UploadName);
        String(r.Description);
        String(r.Method);
    }

    void Task(TUploadJobData& t) {
        Head(t);
        Exact(t.Reserved.data(), 4);
        String(t.StatusText);
        String(t.ResumeInfo);
    }

    void Finished(TFinishedUploadJobData& f) {
        Head(f);
        f.StartTime = Double();
        f.EndTime = Double();
        String(f.Result);
    }

private:
    QIODevice& FStream;
    qint64 FEnd;
};

// The bytes of the file, appended straight to one string: a save takes this snapshot on the
// user-interface thread, so it must cost no more than copying the bytes.
class TByteWriter {
public:
    explicit TByteWriter(std::string& out) : FOut(out) {}

    void Raw(const void* data, std::size_t size) { FOut.append(static_cast<const char*>(data), size); }

    void Int64(std::int64_t value) {
        char b[8];
        std::uint64_t v = static_cast<std::uint64_t>(value);
        for (char& c : b) {
            c = static_cast<char>(v & 0xFF);
            v >>= 8;
        }
        Raw(b, 8);
    }

    void Double(double value) {
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        Int64(static_cast<std::int64_t>(bits));
    }

    // A signed 32-bit length and the bytes, as ReadLStr reads them back.
    void String(const std::string& s) {
        if (s.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
            throw EWriteError();
        const auto n = static_cast<std::uint32_t>(s.size());
        const char b[4] = {static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF),
                           static_cast<char>((n >> 16) & 0xFF), static_cast<char>((n >> 24) & 0xFF)};
        Raw(b, 4);
        FOut.append(s);
    }

    template <class TRecord> void Head(std::uint8_t kind, const TRecord& r) {
        const char head[2] = {kEntryMarker, static_cast<char>(kind)};
        Raw(head, 2);
        String(r.FileName);
        Int64(r.FileSize);
        String(r.UploadName);
        String(r.Description);
        String(r.Method);
    }

    void Task(const TUploadJobData& t) {
        Head(IsValidJobState(t.State) ? t.State : jsError, t);
        Raw(t.Reserved.data(), 4);
        String(t.StatusText);
        String(t.ResumeInfo);
    }

    void Finished(const TFinishedUploadJobData& f) {
        Head(kFinishedKind, f);
        Double(f.StartTime);
        Double(f.EndTime);
        String(f.Result);
    }

private:
    std::string& FOut;
};

// An entry that carries nothing at all: what a run of zero bytes reads as (a file system that
// crashed can leave a file of zeros). This program never writes one, since every task it creates
// names its file, so such an entry is damage, not thousands of tasks without a file.
bool IsBlank(const TUploadJobData& t) {
    return t.FileName.empty() && t.FileSize == 0 && t.UploadName.empty() && t.Description.empty() &&
           t.Method.empty() && t.Reserved == decltype(t.Reserved){} && t.StatusText.empty() &&
           t.ResumeInfo.empty();
}

bool IsBlank(const TFinishedUploadJobData& f) {
    std::uint64_t start, end;
    std::memcpy(&start, &f.StartTime, sizeof start);
    std::memcpy(&end, &f.EndTime, sizeof end);
    return f.FileName.empty() && f.FileSize == 0 && f.UploadName.empty() && f.Description.empty() &&
           f.Method.empty() && start == 0 && end == 0 && f.Result.empty();
}

const char* const kBlankEntry = "an empty entry (no file name, no upload method, nothing else)";

std::string EntriesText(std::size_t n) {
    return n == 1 ? "1 entry" : std::to_string(n) + " entries";
}

} // namespace

TJobsReadResult ReadJobs(QIODevice& stream, const std::string& displayName) {
    TJobsReadResult r;
    TFieldReader reader(stream);
    const std::string improperlyTerminated = ResString(rmImproperlyTerminated);
    for (;;) {
        char marker;
        if (!stream.getChar(&marker))
            break;
        if (marker != kEntryMarker)
            continue;
        const qint64 entryStart = stream.pos() - 1;
        try {
            char kindByte;
            if (!stream.getChar(&kindByte))
                throw EReadError();
            const auto kind = static_cast<std::uint8_t>(kindByte);
            if (kind == kFinishedKind) {
                auto f = std::make_unique<TFinishedUploadJobData>();
                reader.Finished(*f);
                if (IsBlank(*f))
                    throw TEntryError{kBlankEntry};
                r.Finished.push_back(std::move(f));
            } else if (IsValidJobState(kind)) {
                auto t = std::make_unique<TUploadJobData>();
                t->State = static_cast<TJobState>(kind);
                reader.Task(*t);
                if (IsBlank(*t))
                    throw TEntryError{kBlankEntry};
                if (t->State == jsUploading) {
                    t->State = jsError;
                    t->StatusText = improperlyTerminated;
                }
                r.Tasks.push_back(std::move(t));
            } else {
                // Its layout is unknown, so there is no telling where the next entry starts.
                throw TEntryError{"an entry of unknown kind " + std::to_string(kind)};
            }
        } catch (const TEntryError& e) {
            r.Ok = false;
            r.ErrorOffset = entryStart;
            r.ErrorText = "The jobs file \"" + displayName + "\" holds " + e.Reason + " at byte " +
                          std::to_string(entryStart) + ".";
        } catch (const std::exception&) {
            r.Ok = false;
            r.ErrorOffset = entryStart;
            r.ErrorText = "The jobs file \"" + displayName + "\" is damaged: the entry at byte " +
                          std::to_string(entryStart) +
                          " is cut short or announces more data than the file holds.";
        }
        if (!r.Ok) {
            r.ErrorText += " The " + EntriesText(r.Tasks.size() + r.Finished.size()) +
                           " before it were loaded; the rest of the file was not read.";
            break;
        }
    }
    return r;
}

TJobsReadResult ReadJobsFromBytes(std::string_view bytes, const std::string& displayName) {
    QByteArray raw = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&raw);
    buffer.open(QIODevice::ReadOnly);
    return ReadJobs(buffer, displayName);
}

namespace {

void WriteJobs(const TUploadQueue& queue, std::string& out, TFinishedBytesCache* cache) {
    // Growing the string step by step would copy the bytes several times over: start at the size
    // the last snapshot had (queues change little from one save to the next).
    static std::atomic<std::size_t> lastSize{0};
    out.clear();
    out.reserve(lastSize.load(std::memory_order_relaxed) + 4096);
    TByteWriter writer(out);
    std::vector<const TUploadJobData*> finishedTasks;
    for (std::size_t i = 0; i < queue.TaskCount(); ++i) {
        const TUploadJobData& t = queue.Task(i);
        if (t.State == jsFinished)
            finishedTasks.push_back(&t);
        else
            writer.Task(t);
    }
    const std::size_t finished = queue.FinishedCount();
    if (cache) {
        if (cache->EditStamp != queue.FinishedEditStamp() || cache->Count > finished) {
            cache->Bytes.clear();
            cache->Count = 0;
            cache->EditStamp = queue.FinishedEditStamp();
        }
        try {
            TByteWriter cached(cache->Bytes);
            for (; cache->Count < finished; ++cache->Count)
                cached.Finished(queue.Finished(cache->Count));
        } catch (...) {
            // A record may be half written: nothing of this cache can be trusted any more.
            *cache = TFinishedBytesCache{};
            throw;
        }
        out += cache->Bytes;
    } else {
        for (std::size_t i = 0; i < finished; ++i)
            writer.Finished(queue.Finished(i));
    }
    // The scheduler moves each into the finished list in the order they finished.
    std::stable_sort(
        finishedTasks.begin(), finishedTasks.end(),
        [](const TUploadJobData* a, const TUploadJobData* b) { return a->EndTime < b->EndTime; });
    for (const TUploadJobData* t : finishedTasks)
        writer.Finished(MakeFinishedRecord(*t));
    lastSize.store(out.size(), std::memory_order_relaxed);
}

} // namespace

void JobsToBytes(const TUploadQueue& queue, std::string& out) {
    WriteJobs(queue, out, nullptr);
}

void JobsToBytes(const TUploadQueue& queue, std::string& out, TFinishedBytesCache& cache) {
    WriteJobs(queue, out, &cache);
}

std::string JobsToBytes(const TUploadQueue& queue) {
    std::string out;
    JobsToBytes(queue, out);
    return out;
}

namespace {

bool Apply(TUploadQueue& queue, TJobsReadResult r, const TJobsErrorReporter& report,
           const std::string& extraText) {
    queue.AppendAll(std::move(r.Tasks), std::move(r.Finished));
    if (r.Ok)
        return true;
    if (report)
        report(ResString(rmError), r.ErrorText + extraText);
    return false;
}

} // namespace

bool LoadJobsFromBytes(TUploadQueue& queue, std::string_view bytes, const TJobsErrorReporter& report,
                       const std::string& displayName) {
    return Apply(queue, ReadJobsFromBytes(bytes, displayName), report, std::string());
}

bool LoadJobs(TUploadQueue& queue, const std::string& fileName, const TJobsErrorReporter& report) {
    const QString path = QString::fromStdString(fileName);
    if (!QFileInfo::exists(path))
        return true;
    // A folder, a pipe or a device is no jobs file (a pipe would block, /dev/zero never ends).
    const bool regular = QFileInfo(path).isFile();
    QFile file(path);
    if (!regular || !file.open(QIODevice::ReadOnly)) {
        if (report)
            report(ResString(rmError), "Cannot open file \"" + fileName + "\". " +
                                           (regular ? file.errorString().toStdString()
                                                    : std::string("It is not a regular file.")));
        return false;
    }
    TJobsReadResult r = ReadJobs(file, fileName);
    file.close();
    std::string extra;
    if (!r.Ok) {
        // The next save rewrites the file from what was read; keep the unreadable rest for the user.
        const QString copy = path + QStringLiteral(".damaged");
        QFile::remove(copy);
        if (QFile::copy(path, copy))
            extra = " A copy of the damaged file was kept as \"" + copy.toStdString() + "\".";
    }
    return Apply(queue, std::move(r), report, extra);
}

void WriteJobsFile(const std::string& fileName, const std::string& bytes) {
    const QString folder = QFileInfo(QString::fromStdString(fileName)).absolutePath();
    if (!QDir().mkpath(folder))
        throw EFileWriteError("Cannot create the folder \"" + folder.toStdString() + "\".");
    WriteFileAtomically(fileName, bytes, 0600);
}

std::string JobsSaveErrorText(const std::string& fileName, const std::string& reason) {
    std::string text = "Cannot save the jobs file \"" + fileName + "\"";
    text += reason.empty() ? std::string(".") : ": " + reason;
    return text + " The previous file was left as it was.";
}

bool SaveJobs(const TUploadQueue& queue, const std::string& fileName, const TJobsErrorReporter& report) {
    try {
        WriteJobsFile(fileName, JobsToBytes(queue));
        return true;
    } catch (const std::exception& e) {
        if (report)
            report(ResString(rmError), JobsSaveErrorText(fileName, e.what()));
        return false;
    }
}

} // namespace quillo
