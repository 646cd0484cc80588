#pragma once

#include "UpdateFiles.h"
#include "UpdaterServices.h"

#include <QElapsedTimer>
#include <QHash>
#include <QWidget>

#include <memory>

class QLabel;
class QListWidget;
class QProgressBar;
class QTimer;
class StagedInstall;
class Transfer;
namespace WindowPresence {
class Registration;
}

// The download strip: a status line over a progress bar, nothing else seen.
// It reads the file list from the notice page, follows each file's sharing
// page to its download address, downloads the files one after the other, puts
// them in place all together, counts down and starts the player again.
class UD : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kCountdownTicks = 5;

    explicit UD(const UpdaterServices &services, QWidget *parent = nullptr);
    ~UD() override;

    // Shows the strip, refuses beside another updater or a running player,
    // then starts reading the file list; the rest follows as answers arrive.
    void load();

signals:
    // Every file is in place (true), or the update failed (false): then the
    // installed files are as they were, unless the failure box names files
    // whose old contents could not be put back.
    void downloadsFinished(bool ok);

public slots:
    void Inet1_StateChanged(int state);
    void Timer1_Timer();

private slots:
    void Inet1_PageFetched(bool ok, const QByteArray &body);
    void Inet1_ReadyRead();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    enum class Stage { Preparing, ReadingFileList, ReadingSharePages, Downloading, CountingDown, Over };

    void readFileList(const QString &page);
    void readSharePage(const QString &page);
    void startDownload(int index);
    void fileArrived();
    // The file that has just arrived whole is kept: the next one, or the placing.
    void fileKept();
    bool takeBlocks();
    void placeFiles();
    void setBarTotal(qint64 length);
    void showProgress(bool now);
    void failUpdate(const QString &why, const QStringList &left = {});
    void startPlayer();
    void setStatus(const QString &text);
    // The entry being downloaded is SHA256SUMS or its signature: kept in memory, never installed.
    bool downloadingSignature() const;

    UpdaterServices m_services;
    QLabel *Label1 = nullptr;
    QProgressBar *ProgressBar1 = nullptr;
    QListWidget *List1 = nullptr;
    QListWidget *List2 = nullptr;
    Transfer *Inet1 = nullptr;
    QTimer *Timer1 = nullptr;

    Stage m_stage = Stage::Preparing;
    QList<UpdateFiles::Entry> m_entries;
    // The page's version text, which a signature must name.
    QString m_version;
    // A notice page that came over https is followed over https only.
    bool m_httpsOnly = false;
    std::unique_ptr<StagedInstall> m_install;
    // What each read takes from the transfer, reused for every block.
    std::unique_ptr<char[]> m_block;
    // SHA256SUMS and its signature, by entry name, as they arrive.
    QHash<QString, QByteArray> m_signatureFiles;
    int currentFile = 0;
    int closeTicks = 0;
    // The current file's declared length (-1: none given), and how many
    // bytes one step of the bar stands for.
    qint64 m_length = -1;
    qint64 m_barScale = 1;
    QElapsedTimer m_barClock;
    std::unique_ptr<WindowPresence::Registration> m_presence;
};
