#include "base/OsErrorText.h"

#include <cerrno>

namespace {

struct Reason {
    unsigned long code;
    const wchar_t* text;
};

template <size_t N>
std::wstring Lookup(const Reason (&table)[N], unsigned long code, const std::wstring& systemText) {
    for (const Reason& reason : table)
        if (reason.code == code) return reason.text;
    return systemText;
}

// The errno values a file or port call meets in practice; the rest keep the system's words.
const Reason kErrnoReasons[] = {
    {EACCES, L"нет доступа (недостаточно прав)"},
    {EPERM, L"операция не разрешена"},
    {EIO, L"ошибка ввода-вывода"},
    {EBUSY, L"занято другой программой"},
    {ENOENT, L"нет такого файла или папки"},
    {ENOTDIR, L"часть пути — не папка"},
    {EISDIR, L"это папка"},
    {ENOSPC, L"на диске нет места"},
    {EROFS, L"диск только для чтения"},
    {EMFILE, L"открыто слишком много файлов"},
    {ENFILE, L"открыто слишком много файлов"},
    {ENOMEM, L"не хватает памяти"},
    {ENXIO, L"устройство не найдено или отключено"},
    {ENODEV, L"нет такого устройства"},
    {ENAMETOOLONG, L"слишком длинное имя"},
    {ELOOP, L"символические ссылки замкнуты в круг"},
    {EAGAIN, L"ресурс временно недоступен"},
    {EINVAL, L"недопустимый параметр"},
};

// Windows' codes for the same situations (winerror.h), by number: this file includes no <windows.h>.
const Reason kWindowsReasons[] = {
    {2, L"файл не найден"},                          // ERROR_FILE_NOT_FOUND
    {3, L"путь не найден"},                          // ERROR_PATH_NOT_FOUND
    {4, L"открыто слишком много файлов"},            // ERROR_TOO_MANY_OPEN_FILES
    {5, L"нет доступа (недостаточно прав)"},         // ERROR_ACCESS_DENIED
    {8, L"не хватает памяти"},                       // ERROR_NOT_ENOUGH_MEMORY
    {14, L"не хватает памяти"},                      // ERROR_OUTOFMEMORY
    {15, L"диск не найден"},                         // ERROR_INVALID_DRIVE
    {19, L"диск защищён от записи"},                 // ERROR_WRITE_PROTECT
    {21, L"устройство не готово"},                   // ERROR_NOT_READY
    {23, L"ошибка данных (CRC)"},                    // ERROR_CRC
    {30, L"ошибка чтения с устройства"},             // ERROR_READ_FAULT
    {31, L"устройство не работает"},                 // ERROR_GEN_FAILURE
    {32, L"файл занят другой программой"},           // ERROR_SHARING_VIOLATION
    {33, L"часть файла заблокирована другой программой"},  // ERROR_LOCK_VIOLATION
    {112, L"на диске нет места"},                    // ERROR_DISK_FULL
    {123, L"недопустимое имя файла"},                // ERROR_INVALID_NAME
    {206, L"слишком длинное имя"},                   // ERROR_FILENAME_EXCED_RANGE
    {1167, L"устройство не подключено"},             // ERROR_DEVICE_NOT_CONNECTED
};

}  // namespace

std::wstring ErrnoText(int error, const std::wstring& systemText) {
    return error < 0 ? systemText : Lookup(kErrnoReasons, static_cast<unsigned long>(error), systemText);
}

std::wstring WindowsErrorText(unsigned long code, const std::wstring& systemText) {
    return Lookup(kWindowsReasons, code, systemText);
}
