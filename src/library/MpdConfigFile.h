#pragma once
// What a client can learn from an MPD configuration file: where the server
// listens and which folder it plays from. Over TCP the server does not tell
// its music folder, so the file that configures it is read instead.
#include <QByteArray>
#include <QList>
#include <optional>

struct MpdConfigFile {
    QByteArray path;
    QByteArray musicDirectory;      // "~" expanded; empty when not set
    int port = 6600;
    QList<QByteArray> socketBinds;  // bind_to_address values that are socket paths
    QList<QByteArray> hostBinds;    // the others ("localhost", "any", addresses)

    // Reads a configuration; none when the file cannot be read. "~" is home.
    static std::optional<MpdConfigFile> read(const QByteArray &path, const QByteArray &home);
    // Whether a server reached at address ("/socket" or "host:port") is the one this file configures.
    bool serves(const QByteArray &address) const;
};
