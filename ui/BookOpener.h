// Opening a finished book in the user's browser: on the web service, on the FTP web
// site (both when both were targets), else the local book page.
#pragma once

#include <QString>
#include <QStringList>

#include <string>

class AppConfig;

// The addresses a book is opened at, in the order they are opened.
QStringList BookAddresses(const AppConfig& cfg, const std::string& key);
// Opens each of them; failures are logged under `module`. Returns how many opened.
int OpenBook(const AppConfig& cfg, const std::string& key, const char* module);
