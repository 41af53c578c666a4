// Where a book may be exported. An export empties its destination first, so a
// destination is accepted only when emptying it can destroy nothing but an earlier
// export: it is missing, empty, or holds only what an export writes, and it neither is
// nor contains one of the folders and files the program must keep.
#pragma once

#include <string>

// What an export must never delete or overwrite. Empty fields are not checked.
struct ExportGuard {
    std::string books_folder;    // the books folder (book folders, job records, shared files)
    std::string data_folder;     // the user's settings and reference database
    std::string program_folder;  // the installed program with its shipped defaults
    std::string pdf_path;        // the PDF the exported book was made from
};

// The guard for the running program's own folders and the given PDF.
class AppConfig;
ExportGuard GuardFor(const AppConfig& cfg, const std::string& pdf_path);

// Why `destination` must not receive an export, or an empty text when it may. Refused:
// a relative path, the file-system root, the home folder or a folder containing it, the
// books, data or program folder, a folder inside or containing one of them, a folder
// containing the PDF, a file, and a non-empty folder that is not an earlier export
// (compared after resolving symbolic links). Creates and deletes nothing.
std::string ExportRefusal(const std::string& destination, const ExportGuard& guard);

// The part of ExportRefusal that depends on where `destination` lies, not on what it
// holds: for the folder that receives several exports in sub-folders of their own.
std::string ExportLocationRefusal(const std::string& destination, const ExportGuard& guard);

// True when `folder` holds an earlier export of a book: its page, the shared script and
// the skins folder, and nothing at its top level that an export does not write.
bool IsEarlierExport(const std::string& folder);

// A folder name for the export of `pdf_path` among several: the file name without its
// ".pdf", with separators and control characters replaced by '_', leading dots and
// blanks removed, cut to 200 bytes at a character boundary; "book" when nothing is left.
std::string ExportFolderName(const std::string& pdf_path);
