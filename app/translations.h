#pragma once

class QCoreApplication;

// Loads Qt's own Brazilian Portuguese translation into `app`, so standard
// buttons and file dialogs read "Sim", "Não", "Cancelar", "Abrir", "Salvar"
// whatever the system's language. False when the translation is missing.
bool InstallTranslations(QCoreApplication &app);
