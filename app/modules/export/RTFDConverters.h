#pragma once
// Registers the RTFD makers with the catalogue: WordPerfect sources go to WVConverter, every
// other source (Works) to WPVConverter. The Works and WordPerfect modules do this when they are
// loaded.

void registerRTFDConverters();
