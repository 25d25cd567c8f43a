#pragma once

// What tarvik-cli does once its application object is made: the arguments,
// --help and --version, then the command. Shared by the program and by the
// one that draws PDF reports.
int CliMain();
