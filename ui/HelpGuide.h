// The user guide beside the program (<program folder>help/index.html), opened at the
// section about the window or page the user asked from.
#pragma once

#include <QUrl>

class AppConfig;

// The guide's address with `section` (an element id of the guide) as its fragment; the
// guide's top for an empty section.
QUrl GuideAddress(const AppConfig& cfg, const char* section);
// Opens it; a failure is logged under `module`.
void OpenGuide(const AppConfig& cfg, const char* section, const char* module);
// The guide's section about wizard page `step_code`.
const char* WizardHelpSection(int step_code);
