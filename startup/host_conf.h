#pragma once
// The host's model catalogue torvane.conf: the one model and board the host selected, with the
// firmware versions of that board, as a three-level tree of keyed nodes.

#include <QByteArray>
#include <QString>

// The tree the catalogue fills; the main window adapts its tree view to it.
class FirmTreeSink {
public:
    virtual ~FirmTreeSink() = default;
    virtual void clear() = 0;
    // Adds a node under the node with key parentKey (an empty parentKey adds a root). False
    // when the key is already in the tree or the parent does not exist.
    virtual bool addNode(const QString &parentKey, const QString &key, const QString &text) = 0;
    virtual void expandAll() = 0;
};

// The failure code recorded in gRunErrNo when the selected block lists a board or version twice.
constexpr int kDuplicateNodeKey = 457;

// Reads torvane.conf from the application folder into the tree: model gSelectedModel, board
// model "=" gSelectedPcb, versions model "=" board "\" version. Returns 0, or 99 with gErrNo
// 160 (file missing or bad name) or 169 (any other failure, code in gRunErrNo: 6 for a line
// longer than 32767 characters, kDuplicateNodeKey for a repeated node).
int ReadHostConf(FirmTreeSink &tree);

// The core of ReadHostConf: everything after the file was read, from its bytes, into the tree
// that ReadHostConf has emptied. gFilePath and gErrFileName stay as the caller set them.
int HostConfFromBytes(const QByteArray &bytes, FirmTreeSink &tree);
