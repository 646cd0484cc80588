// The main window's playlist editing: delete, clear, move, save and open.
#include "FrmPlayer.h"

#include "MediaComponent.h"
#include "Prompts.h"

#include <QListWidget>
#include <QPersistentModelIndex>

#include <algorithm>

void FrmPlayer::warn(const QString &title, const QString &text)
{
    m_services.prompts->message(this, title, text, Prompts::Ok, Prompts::Warning);
}

void FrmPlayer::delete_Item()
{
    const int count = m_playlist.count();
    const int selection = listName->currentRow();
    if (count == 0) {
        warn(QStringLiteral("删除错误:"), QStringLiteral("无可删除曲目！"));
    } else if (selection < 0) {
        warn(QStringLiteral("删除错误:"), QStringLiteral("请选中要删除的曲目！"));
    } else {
        // The box runs an event loop: files handed over and remote calls may
        // change the list and playback while it is open. The answer is about
        // the entry selected now, wherever it stands then.
        const QPersistentModelIndex asked = m_playlist.model()->index(selection, 0);
        m_state.msgAnswer = qint16(m_services.prompts->message(
            this, QStringLiteral("提示:"), QStringLiteral("确定将此曲目从当前列表中删除？"),
            Prompts::OkCancel, Prompts::Warning));
        if (m_state.msgAnswer == Prompts::AnswerOk && asked.isValid())
            removeEntry(asked.row());
    }
    m_playlist.refreshCount();
}

void FrmPlayer::removeEntry(int index)
{
    const bool wasSelected = listName->currentRow() == index;
    const bool wasPlaying = m_playingEntry == index;
    m_playlist.removeAt(index);
    if (m_playingEntry > index)
        setPlayingEntry(m_playingEntry - 1);
    const int left = m_playlist.count();
    if (left == 0) {
        m_services.media->stop();
        imgStop_Click();
    } else if (wasPlaying && index < left) {
        // The entry that took its place goes on playing, as Next would start it.
        listName->setCurrentRow(index);
        playEntry(index);
    } else if (wasPlaying) {
        // Nothing comes after the last entry: stop, as at the end of the list.
        imgStop_Click();
        listName->setCurrentRow(left - 1);
    } else if (wasSelected) {
        listName->setCurrentRow(std::min(index, left - 1));
    }
}

void FrmPlayer::imgDelete_Click()
{
    delete_Item();
}

void FrmPlayer::imgClear_Click()
{
    m_playlist.clear();
    m_playlist.refreshCount();
    imgStop_Click();
}

void FrmPlayer::moveSelectedEntry(int step)
{
    const int count = m_playlist.count();
    if (count == 0) {
        warn(QStringLiteral("操作错误:"), QStringLiteral("播放列表空，无可移动曲目！"));
        return;
    }
    const int from = listName->currentRow();
    if (from < 0)
        return;
    const int to = from + step;
    if (to < 0 || to >= count) {
        warn(QStringLiteral("移动错误:"), step > 0 ? QStringLiteral("已是尾纪录！") : QStringLiteral("已是首纪录！"));
        return;
    }
    movedName = m_playlist.nameAt(from);
    m_playlist.swap(from, to);
    listName->setCurrentRow(to);
    // Playback goes on untouched; the playing entry just changed places.
    if (m_playingEntry == from)
        setPlayingEntry(to);
    else if (m_playingEntry == to)
        setPlayingEntry(from);
}

void FrmPlayer::imglistNext_Click()
{
    moveSelectedEntry(+1);
}

void FrmPlayer::imglistPre_Click()
{
    moveSelectedEntry(-1);
}

void FrmPlayer::imgLstsave_Click()
{
    if (m_playlist.count() == 0) {
        warn(QStringLiteral("操作错误:"), QStringLiteral("当前播放列表为空，无可保存曲目！"));
        return;
    }
    const QString fileName =
        m_services.prompts->saveFile(this, QStringLiteral("保存播放列表"), m_commonDialog2.qtFilter());
    if (fileName.isEmpty())
        return;
    // A failed save leaves the previous file whole, and says why.
    QString reason;
    if (!Playlist::writeFile(fileName, m_playlist.urls(), &reason))
        warn(QStringLiteral("保存错误:"), QStringLiteral("无法保存播放列表“%1”：%2").arg(fileName, reason));
}

void FrmPlayer::imgLstopen_Click()
{
    const QString fileName =
        m_services.prompts->openFile(this, QStringLiteral("打开播放列表"), m_commonDialog2.qtFilter());
    if (fileName.isEmpty())
        return;
    QStringList paths;
    QStringList names;
    if (!Playlist::readFile(fileName, &paths, &names))
        return;
    m_playlist.append(paths, names);
    m_playlist.refreshCount();
}
