// Keeps a module that has no sources yet linkable.
