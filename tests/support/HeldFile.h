#pragma once

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <QDir>
#include <QString>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <string>

// Windows: the file open as another program may hold it, sharing it with no one, for as long as this lives. Nobody
// may read or write it then, an administrator neither: the refusal Windows has where Linux has permission bits.
class HeldFile
{
public:
    explicit HeldFile(const QString& path)
    {
        const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
        if (_wsopen_s(&m_descriptor, name.c_str(), _O_RDONLY | _O_BINARY, _SH_DENYRW, _S_IREAD) != 0)
            m_descriptor = -1;
    }
    ~HeldFile()
    {
        if (m_descriptor >= 0)
            _close(m_descriptor);
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    bool isHeld() const { return m_descriptor >= 0; }

private:
    int m_descriptor = -1;
};
#endif
