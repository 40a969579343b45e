#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdio>
#include <deque>
#include <optional>
#include <string>
#include <vector>

// The files of a run, in order: those named as arguments, then those of a list (--files-from), which is read as the
// run takes its entries, so that a list of any length costs the same memory. A folder stands for every file in it
// and beneath it, as when one is dropped on the window. A name or folder that cannot be taken, or a folder beneath
// one that cannot be read, is reported on standard error and left out.
class FileListSource
{
public:
    // extension: for folders, take only files matching *.EXT; empty: every file. verbose: also say, for each folder,
    // how many entries the walk's rules passed over (hidden files and the like).
    FileListSource(QString extension, const std::atomic<bool>& stopRequested, bool verbose = false);
    ~FileListSource();
    FileListSource(const FileListSource&) = delete;
    FileListSource& operator=(const FileListSource&) = delete;

    // Takes the arguments, walking the folders among them; false when the user stopped the walk.
    bool addArguments(const std::vector<std::string>& arguments);
    // Opens the list, one name an entry (ended by a line feed, or a NUL with nulSeparated); "-" is standard input.
    // False (after a message) when it cannot be opened.
    bool openList(const std::string& path, bool nulSeparated);
    bool hasList() const { return m_list != nullptr; }
    // How many files the arguments named, folders walked.
    std::size_t named() const { return m_named; }

    // The next file, or nothing at the end of the files (or once the user stopped). One call at a time, from any
    // thread.
    std::optional<QString> next();
    // Whether a name or folder had to be left out.
    bool namesFailed() const { return m_namesFailed.load(); }

private:
    void expand(const QByteArray& argument);
    std::optional<QByteArray> nextListEntry();

    QString m_pattern;
    const std::atomic<bool>& m_stopRequested;
    std::deque<QString> m_pending;
    std::size_t m_named = 0;
    std::atomic<bool> m_namesFailed{false};
    bool m_verbose = false;
    std::FILE* m_list = nullptr;
    int m_delimiter = '\n';
};
