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
    // The book is meant for the web but its upload has not finished: its addresses would
    // answer with an error page, so none is given.
    bool upload_unfinished = false;
};

// A book that was not uploaded is found in the folder it was exported to, when the
// export wrote its page there, else in its folder in the books folder. A web address is
// given only for a book whose job finished, which is when it reached its targets.
BookLocations LocateBook(const AppConfig& cfg, const std::string& key);
