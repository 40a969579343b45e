#include "Options.h"

#include "FileNames.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr const char* kUsage =
    "Usage: quillory-extract [-m|--mode 1-4] [-t|--tag NAME] [-s|--search TEXT]\n"
    "                        [--save-text FILE | --save-csv FILE] FILE...\n"
    "\n"
    "Pulls HTML tags, or the data between tags, out of the files named, in order.\n"
    "\n"
    "  -m, --mode N        1  all data between all tags (the text of every innermost element)\n"
    "                      2  data and tag between the tag NAME (each element's markup, by line)\n"
    "                      3  every line containing TEXT (any case; the file is not parsed)\n"
    "                      4  all tags in the file (every element's name)\n"
    "                      default 1\n"
    "  -t, --tag NAME      the tag for mode 2, without < / or > (default \"tr\")\n"
    "  -s, --search TEXT   the tag or data for mode 3 (default \"one\")\n"
    "      --save-text F   write the rows to F as text lines (ANSI, CR LF) instead of printing\n"
    "      --save-csv F    write the rows to F as one comma-delimited line (ANSI, CR LF)\n"
    "      --ext EXT       for folder arguments: take only files matching *.EXT (default: every file)\n"
    "  -j, --jobs N        parse up to N files at once (default: the number of cores); the rows\n"
    "                      still come out in the files' order, the same bytes as with --jobs 1\n"
    "      --timeout S     end a parser that gives nothing on a file for S seconds, plus 2 for each\n"
    "                      MB of the file, and report the file as timed out (default 60; 0: never)\n"
    "  -H, --with-filename print each row after its file's name and a tab (the name as given, or as\n"
    "                      found under a folder); --no-filename: not (the default)\n"
    "      --format F      how rows are printed: text (the default), tsv (name, tab, row; tab, line\n"
    "                      feed, carriage return and backslash written \\t \\n \\r \\\\) or jsonl (one\n"
    "                      {\"file\": ..., \"row\": ...} object a line; bytes that are not UTF-8 as \\udcXX)\n"
    "      --files-from F  also extract the files named in F, one a line (- for standard input),\n"
    "                      after those named as arguments; the list is read as the run goes\n"
    "  -0, --null          names in the list end with a NUL byte, as find's print0 writes them\n"
    "      --progress      show how far the run has come on standard error (the default when\n"
    "                      standard error is a terminal); --no-progress: never\n"
    "  -v, --verbose       for folder arguments: also say how many entries the walk passed over\n"
    "                      on purpose (hidden files, lock files, folders it cannot name)\n"
    "  -h, --help          show this help\n"
    "      --version       show the version\n"
    "\n"
    "A folder given as FILE is walked with every folder beneath it, breadth-first; a folder\n"
    "beneath it that cannot be read is reported on standard error, and the status is 1.\n"
    "Rows are printed in UTF-8, one per line. A file that cannot be read is reported on\n"
    "standard error and the others are still extracted.\n"
    "Ctrl+C stops the run: the rows already written stay, and a save in progress leaves the\n"
    "file it would replace as it was.\n"
    "Exit status: 0 done, 1 some file, folder or the save failed, 2 nothing to do or a bad option,\n"
    "130 stopped by Ctrl+C (128 + the signal's number for other signals that end it).\n";

[[noreturn]] void usageError(const std::string& message)
{
    std::fprintf(stderr, "quillory-extract: %s\nTry 'quillory-extract --help'.\n", message.c_str());
    std::exit(2);
}

QString fromArgument(const char* argument)
{
    // On Windows the arguments come as UTF-8 (see main), so that no character is lost to the code page.
#ifdef Q_OS_WIN
    return QString::fromUtf8(argument);
#else
    return QString::fromLocal8Bit(argument);
#endif
}

// The switches that take no value; false when argument is none of them.
bool takeSwitch(Options& options, const std::string& argument)
{
    if (argument == "-h" || argument == "--help") {
        std::fputs(kUsage, stdout);
        std::exit(0);
    }
    if (argument == "--version") {
        std::printf("quillory-extract %s\n", QUILLORY_VERSION);
        std::exit(0);
    }
    if (argument == "-0" || argument == "--null")
        options.nulSeparated = true;
    else if (argument == "-H" || argument == "--with-filename" || argument == "--no-filename")
        options.withFileName = argument != "--no-filename";
    else if (argument == "--progress" || argument == "--no-progress")
        options.progress = argument == "--progress";
    else if (argument == "-v" || argument == "--verbose")
        options.verbose = true;
    else
        return false;
    return true;
}

bool takesValue(const std::string& name)
{
    return name == "-m" || name == "--mode" || name == "-t" || name == "--tag" || name == "-s" || name == "--search" ||
           name == "--save-text" || name == "--save-csv" || name == "--ext" || name == "-j" || name == "--jobs" ||
           name == "--format" || name == "--files-from" || name == "--timeout";
}

int jobsFrom(const std::string& value)
{
    char* end = nullptr;
    errno = 0;
    const long jobs = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno != 0 || jobs < 1 || jobs > 256)
        usageError("the number of jobs must be from 1 to 256, not '" + value + "'");
    return int(jobs);
}

int timeoutFrom(const std::string& value)
{
    char* end = nullptr;
    errno = 0;
    const long seconds = std::strtol(value.c_str(), &end, 10);
    // A day is past any page; a larger number is a slip, or a wish for no limit, which 0 says.
    if (value.empty() || *end != '\0' || errno != 0 || seconds < 0 || seconds > 86400)
        usageError("the timeout must be a number of seconds from 0 to 86400, not '" + value + "'");
    return int(seconds);
}

RowFormats::Format formatFrom(const std::string& value)
{
    if (value == "text")
        return RowFormats::Format::Text;
    if (value == "tsv")
        return RowFormats::Format::Tsv;
    if (value != "jsonl")
        usageError("the format must be text, tsv or jsonl, not '" + value + "'");
    return RowFormats::Format::Jsonl;
}

void takeValue(Options& options, const std::string& name, const std::string& value)
{
    if (name == "-m" || name == "--mode") {
        const std::optional<ExtractionMode> mode = value.size() == 1 ? ModeFromNumber(value[0] - '0') : std::nullopt;
        if (!mode)
            usageError("the mode must be 1, 2, 3 or 4, not '" + value + "'");
        options.mode = *mode;
    } else if (name == "-t" || name == "--tag") {
        options.tagName = fromArgument(value.c_str());
    } else if (name == "-s" || name == "--search") {
        options.searchText = fromArgument(value.c_str());
    } else if (name == "-j" || name == "--jobs") {
        options.jobs = jobsFrom(value);
    } else if (name == "--timeout") {
        options.timeout = timeoutFrom(value);
    } else if (name == "--files-from") {
        if (value.empty())
            usageError("option '--files-from' needs a file name, not an empty one");
        options.filesFrom = value;
    } else if (name == "--format") {
        options.format = formatFrom(value);
    } else if (name == "--ext") {
        options.extension = fromArgument(value.c_str());
    } else {
        // An empty name is a slip (an unset variable in a script), not a wish to print.
        if (value.empty())
            usageError("option '" + name + "' needs a file name, not an empty one");
        (name == "--save-text" ? options.saveText : options.saveCsv) = FileNames::fromNative(value.c_str());
    }
}

} // namespace

Options ParseArguments(int argc, char** argv)
{
    Options options;
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (onlyFiles || argument.empty() || argument[0] != '-' || argument == "-") {
            options.files.push_back(argument);
            continue;
        }
        if (argument == "--") {
            onlyFiles = true;
            continue;
        }
        if (takeSwitch(options, argument))
            continue;

        // Options with a value: "--mode 2", "--mode=2", "-m 2" or "-m2".
        std::string name = argument;
        std::optional<std::string> value;
        if (argument.rfind("--", 0) == 0) {
            const std::size_t equals = argument.find('=');
            if (equals != std::string::npos) {
                name = argument.substr(0, equals);
                value = argument.substr(equals + 1);
            }
        } else if (argument.size() > 2) {
            name = argument.substr(0, 2);
            value = argument.substr(2);
        }
        if (!takesValue(name))
            usageError("unknown option '" + argument + "'");
        if (!value) {
            if (i + 1 >= argc)
                usageError("option '" + name + "' needs a value");
            value = argv[++i];
        }
        takeValue(options, name, *value);
    }
    if (options.saveText && options.saveCsv)
        usageError("--save-text and --save-csv cannot be used together");
    if ((options.saveText || options.saveCsv) && (options.withFileName || options.format != RowFormats::Format::Text))
        usageError("--with-filename and --format are for printed rows, not for --save-text or --save-csv");
    return options;
}
