#pragma once
#include <QByteArray>
#include <QUrl>

// The redirects a stream request follows: one new request per hop, each with its own limits.
namespace Redirects {

// Hops followed before the request fails (as many as Qt's own following allowed).
constexpr int MaxHops = 50;

// Whether a response with this status asks for the request to be repeated at its Location.
bool IsRedirectStatus(int status);

// Where a redirect leads, or why it is not followed.
struct Hop {
    enum class Refusal { None, TooManyHops, LessSafeScheme };
    QUrl target; // valid when the redirect is followed
    Refusal refusal = Refusal::None;
};

// The hop from `from` to the response's `location` (absolute or relative), after `hopsTaken`
// hops already followed. Never from https to plain http, never to a scheme other than these.
Hop Next(const QUrl& from, const QByteArray& location, int hopsTaken);

} // namespace Redirects
