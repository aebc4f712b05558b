#pragma once
// `pelmora --demo`: the demo head-end made in a folder of the user's before the console opens
// it, with a progress dialog while its clips are made.
#include <string>

class QWidget;

// Makes the demo in Dir and gives its project file to open. A folder that already holds the
// demo's project (made earlier) is not touched: that project is given. Anything else in the
// folder, or a failure, is shown in a message box and gives "". When ffmpeg is missing, or a
// clip could not be made, the operator is told so and the project is given all the same.
std::string MakeDemoWithProgress(QWidget* parent, const std::string& dir);
