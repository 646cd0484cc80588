#pragma once

#include <QString>

class Connectivity;
class MediaComponent;
class Prompts;
class Shell;

// What the player's windows use of the outside world. main() fills it with
// the real layers; tests fill it with fakes and a temporary program folder.
struct PlayerServices
{
    MediaComponent *media = nullptr;
    Prompts *prompts = nullptr;
    Shell *shell = nullptr;
    Connectivity *connectivity = nullptr;
    QString programFolder;
    QString noticeUrl;
};
