#pragma once
#include <QString>
#include <QStringList>
#include <functional>

// Addresses handed in while a download runs, in the order they came, each to be downloaded in
// its turn. Kept in the settings store as they change, so a restart (or a crash) loses none.
namespace WaitingAddresses {

// More than this is no longer a handful of links waiting but a queue, which the window does
// not offer; a further address is refused rather than silently dropped.
constexpr int kMost = 50;

// The addresses stored: those waiting, after the address of the download under way when one
// is kept first (see KeepFirst).
QStringList Load();
// Adds `address` at the end; one already waiting keeps its place. False when `most` are
// stored already.
bool Add(const QString& address, int most = kMost);
// Puts `address` first, in one write: the download under way, kept until it ends so that one
// cut short by the program's end is resumed at the next start.
void KeepFirst(const QString& address);
// Takes `address` off the list, wherever it stands.
void Remove(const QString& address);
// The first address, taken off the list; empty when none waits.
QString TakeFirst();
int Count();

// What a tidy-up left out of the stored list.
struct LeftOut {
    int refused = 0;    // turned down by the caller's rule
    int beyondMost = 0; // past the first kMost
};
// Keeps, of a stored list that may have been edited by hand, the first kMost addresses that
// `refuse` does not turn down, and says how many of the others were left out.
LeftOut Tidy(const std::function<bool(const QString&)>& refuse);

} // namespace WaitingAddresses
