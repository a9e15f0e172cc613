#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <thread>

namespace brimhttp {
struct Run;
}
namespace platform {
class MainThreadChannel;
}

// Downloads one file (or a list of files) over HTTP on a worker thread, with
// resuming from a small partial-state file beside the target. Every event is
// delivered on the main thread while the worker waits for the handler.
class TBrimHttpDownload
{
public:
    using TStartEvent = std::function<void(TBrimHttpDownload *Sender, int Index, int Count,
                                           const QString &HttpUrl, const QString &LocalFile)>;
    using TProcessEvent = std::function<void(TBrimHttpDownload *Sender, int Index, int Count,
                                             const QString &HttpUrl, const QString &LocalFile,
                                             quint32 CurrentSize, quint32 TotalSize, quint32 SpeedBPS)>;
    using TFileCompletedEvent
        = std::function<void(TBrimHttpDownload *Sender, int Index, int Count, const QString &HttpUrl,
                             const QString &LocalFile, quint32 FileSize)>;
    using TFilesCompletedEvent
        = std::function<void(TBrimHttpDownload *Sender, quint32 SuccessNum, quint32 TotalNum)>;
    using TNotifyEvent = std::function<void(TBrimHttpDownload *Sender)>;
    using TErrorEvent
        = std::function<void(TBrimHttpDownload *Sender, int Index, int Count, const QString &HttpUrl,
                             const QString &LocalFile, quint32 ErrorCode, bool &ContinueNext)>;

    // Error code when no better one is known.
    static constexpr quint32 UnknownError = 0xFFFFFFFFu;
    // Bytes read from the connection per block (one partial-state rewrite and one OnProcess each).
    static constexpr int BlockSize = 512;

    TBrimHttpDownload();
    ~TBrimHttpDownload();
    TBrimHttpDownload(const TBrimHttpDownload &) = delete;
    TBrimHttpDownload &operator=(const TBrimHttpDownload &) = delete;

    bool ResumeBroken = false;
    TStartEvent OnStart;
    TProcessEvent OnProcess;
    TFileCompletedEvent OnFileCompleted;
    TFilesCompletedEvent OnFilesCompleted;
    TNotifyEvent OnStopped;
    TNotifyEvent OnPaused;
    TNotifyEvent OnResumed;
    TErrorEvent OnError;

    QString HttpUrl;
    QString LocalFile;
    QStringList HttpUrls;
    QStringList LocalFiles;

    // Starts a single run; false (and nothing changes) while a run is active.
    bool Download(const QString &HttpUrl, const QString &LocalFile);
    // Starts a batch run over HttpUrls/LocalFiles; it stays Busy until OnFilesCompleted.
    bool DownloadList();
    // Ends the run, waits for the worker, then fires OnStopped.
    void Stop();
    void Pause();
    void Resume();

    bool Busy() const { return m_busy; }
    bool Paused() const { return m_paused; }

    // How the file of the last OnFileCompleted arrived, valid from that event
    // on: the host of a plain-HTTP answer from another machine on its way (a
    // redirect counts: it chose where the bytes came from), empty when every
    // answer came over TLS or from this machine; and the offset the run
    // resumed at (the bytes before it came in an earlier run).
    QString LastPlainHttpHost() const { return m_lastPlainHost; }
    quint32 LastResumeOffset() const { return m_lastResumeOffset; }

    // The partial-state file that belongs to a target file.
    static QString PartialStateFileName(const QString &localFile)
    {
        return localFile + QStringLiteral(".rb");
    }

private:
    friend struct brimhttp::Run;
    bool startRun(bool batch);
    void endWorker();

    std::shared_ptr<brimhttp::Run> m_run;
    std::unique_ptr<platform::MainThreadChannel> m_channel;
    std::thread m_thread;
    bool m_busy = false;
    bool m_paused = false;
    QString m_lastPlainHost;
    quint32 m_lastResumeOffset = 0;
};
