#pragma once
#include <QByteArray>
#include <QList>
#include <cstdint>

class QWidget;

// Bringing a window to the front for a later start of the program. The desktop hands every
// start a launch token: on X11 a startup notification id ($DESKTOP_STARTUP_ID) that ends in the
// X server time of the user's click ("..._TIME<n>"), on Wayland an activation token
// ($XDG_ACTIVATION_TOKEN). Window managers that keep windows from stealing the focus let a window
// come forward only with that time or token, and the desktop shows launch feedback (a busy
// cursor) until the started program says that the launch is over.
namespace WindowActivation {

inline const char* const kStartupIdVariable = "DESKTOP_STARTUP_ID";
inline const char* const kActivationTokenVariable = "XDG_ACTIVATION_TOKEN";

// The longest launch token taken.
inline constexpr int kMaxTokenSize = 256;

// Whether a text may be a launch token: short, printable, without spaces.
bool IsLaunchToken(const QByteArray& token);

// The X server time that a startup id ends in ("..._TIME<n>"), or 0 when it names none.
uint32_t StartupIdTime(const QByteArray& startupId);

// The startup notification message that ends the launch feedback of `startupId`, cut into the
// 20-byte pieces that X client messages carry; the text ends in a NUL.
QList<QByteArray> StartupRemovalPieces(const QByteArray& startupId);

// Shows, raises and activates `window` for a start that came with these launch tokens (either
// may be empty), and ends that start's launch feedback.
void BringToFront(QWidget& window, const QByteArray& startupId, const QByteArray& activationToken);

} // namespace WindowActivation
