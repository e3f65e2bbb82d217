#pragma once
// The application's module factory: the PDF module is built in; every other format's module,
// with its kit and the libraries behind it, is a plugin loaded when a file of that format is
// first asked for.

// Registers every slot of the factory. Called once, before the first load.
void registerModulPlugins();
