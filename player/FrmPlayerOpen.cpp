// The main window's additions from outside: drops on the list and files
// named on the command line or handed over by a second start.
#include "FrmPlayer.h"

#include "PathExpansion.h"
#include "Prompts.h"

#include <QTimer>

namespace {

// Lines of one box; the rest are counted.
constexpr int kMaxProblemLines = 8;

} // namespace

int FrmPlayer::addItems(const QStringList &items)
{
    PathExpansion::Bounds bounds;
    bounds.maxEntries = Playlist::kMaxEntries - m_playlist.count();
    int added = 0;
    if (bounds.maxEntries > 0) {
        QStringList problems;
        QStringList names;
        const QStringList entries = PathExpansion::expand(items, bounds, &problems, &names);
        added = m_playlist.append(entries, names);
        reportProblems(problems);
    }
    m_playlist.refreshCount();
    return added;
}

void FrmPlayer::reportProblems(const QStringList &problems)
{
    if (problems.isEmpty())
        return;
    QStringList lines = problems.mid(0, kMaxProblemLines);
    if (problems.size() > kMaxProblemLines)
        lines.append(QStringLiteral("……另有 %1 项。").arg(problems.size() - kMaxProblemLines));
    // After the call that added: a remote caller has its answer before the box waits for the user.
    QTimer::singleShot(0, this, [this, text = lines.join(QLatin1Char('\n'))] {
        if (!m_ending)
            warn(QStringLiteral("提示:"), text);
    });
}

void FrmPlayer::openFiles(const QStringList &items)
{
    const int before = m_playlist.count();
    if (addItems(items) > 0)
        goTo(before);
}
