// The two cards as windows: placing and showing them, their keys and clicks, what a screen reader
// is told, and their window procedure. The host calls in from the same (main) thread.
#pragma once

#include <windows.h>

#include "tray/gdiplus_win.h"
#include "tray/tray_rules.h"

namespace nerova::tray {

// Registers the card classes and makes both cards, hidden.
void create_cards(HINSTANCE instance, HCURSOR arrow, const wchar_t* title);
// The cards draw only between these, while GDI+ is up; `logo` may be null.
void start_drawing_cards(GpImage* logo);
void stop_drawing_cards();

// Where a card opens for the anchor (the click, or the icon's corner for the keyboard), and at
// which DPI: by the icon's rectangle for both where the shell names it, else by the anchor; on the
// monitor under it, clear of the taskbar even when that hides itself.
struct CardPlace {
    Point at;
    unsigned dpi;
};
CardPlace card_place(CardKind kind, Point anchor);

// Opens the card at the anchor, closing the other.
void show_card(CardKind kind, Point anchor);
void hide_card(CardKind kind);
bool card_shown(CardKind kind);

// At a tick: a card closes once another window holds the foreground and its grace time is over.
void close_cards_left();

// What the popup says about the page; redrawn and told to screen readers when it changes.
void set_page_connected(bool connected);

// Hides the cards, removes the icon and ends the message loop.
void quit_program();

}  // namespace nerova::tray
