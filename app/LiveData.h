#pragma once

namespace velmora {

class COrbaltApp;
class UserPrompts;

// Connects the program to the data server: the HTTP client, transfers off the window's
// thread, the quote poll and timer, and the synchronisation of all series with a progress
// dialog. Call before InitInstance.
void ConnectLiveData(COrbaltApp& app, UserPrompts& prompts);

// Synchronises all series from the data server behind a modal progress dialog whose cancel
// button skips the remaining requests.
void SyncAllWithProgress(COrbaltApp& app, UserPrompts& prompts);

} // namespace velmora
