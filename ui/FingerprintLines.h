// Server keys as the user compares them with what a provider publishes: each fingerprint
// after a caption on a line of its own, with the key's kind ("ED25519 SHA256:..."), and
// message boxes that never wrap such a line in the middle of a value.
#pragma once

#include <QString>
#include <QStringList>

struct ServerIdentity;

// The lines naming the keys of `identity`: the key accepted before (when it changed), the
// key shown now and, over TLS, the certificate's SHA-256 in colon-separated hex.
QStringList IdentityLines(const ServerIdentity& identity);
// The same from a job's note, which names the fingerprints in that order (the key
// accepted before first when there are two).
QStringList IdentityLinesFromNote(const QString& note);
// Rich text showing `text` line by line, where a line that names a fingerprint is never
// wrapped; empty when the text names none (the plain text then stands).
QString MessageWithWholeFingerprints(const QString& text);
