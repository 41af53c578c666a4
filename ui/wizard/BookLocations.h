// Where a finished book can be found, from its job's record: the folder on this
// computer that holds it (for a book that was not uploaded), its address on the
// publishing service, and its address on the user's FTP web site.
#pragma once

#include <QString>

#include <string>

class AppConfig;

struct BookLocations {
    QString local_folder;
    QString service_address;
    QString ftp_address;
};

// A book that was not uploaded is found in the folder it was exported to, when the
// export wrote its page there, else in its folder in the books folder.
BookLocations LocateBook(const AppConfig& cfg, const std::string& key);
