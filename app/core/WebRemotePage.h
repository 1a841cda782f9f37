#pragma once
// The web remote page served at "/": one Japanese page with its styles and
// script inside, nothing fetched from elsewhere. It shows the four values of
// the status window live (GET /api/events, read through fetch so that the
// access key can go in the Authorization header), has a power button, a
// blackout button and eight input buttons, and says when the program or
// the port cannot be reached. A key the server asks for is typed once and
// kept in the browser's local storage.
namespace kav {

// The page, UTF-8.
extern const char KWebRemotePage[];

} // namespace kav
