#pragma once

#include <QString>

// The caption of every box without a title of its own, derived once at start-up.
namespace ShortTitle {

// Cuts the title at its last blank, and again while it is longer than 40 characters; at least
// once, so the last word never stays. A title without a blank is its own short title.
QString Derive(const QString& title);

// Derives the short title from the product title and installs it as the application's title.
void SetShortTitle();
// The installed short title ("Quillory"); the platform's default title before SetShortTitle.
QString Get();

} // namespace ShortTitle
