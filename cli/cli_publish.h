#pragma once

// tarvik-cli publicar: every controller on the port read once a period, each
// reading published to an MQTT broker.

#include "cli_args.h"

#include <QString>

class tCliRun;

// What the parser refuses for publicar beyond each option's own checks.
bool PublishCheck(const tCliArgs &args, QString &error);
int Publish(tCliRun &run);
