#pragma once

#include "ExtractionMode.h"
#include "RowFormats.h"

#include <QString>

#include <optional>
#include <string>
#include <vector>

// What quillory-extract was asked to do.
struct Options
{
    ExtractionMode mode = ExtractionMode::LeafTexts;
    QString tagName = QStringLiteral("tr");
    QString searchText = QStringLiteral("one");
    std::optional<QString> saveText;
    std::optional<QString> saveCsv;
    QString extension;
    int jobs = 0;                 // 0: one per core
    std::optional<int> timeout;   // seconds a worker may give nothing on a file (more for large files); 0: for ever
    std::optional<bool> progress; // unset: when standard error is a terminal
    bool verbose = false;
    RowFormats::Format format = RowFormats::Format::Text;
    std::optional<std::string> filesFrom; // "-": standard input
    bool nulSeparated = false;
    bool withFileName = false;
    std::vector<std::string> files;
};

// The options of a command line. Help, the version and a usage error are answered here, and the program ends.
Options ParseArguments(int argc, char** argv);
