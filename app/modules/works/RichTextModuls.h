#pragma once
// Registers the Works and the WordPerfect module with the factory.
void registerRichTextModuls();
