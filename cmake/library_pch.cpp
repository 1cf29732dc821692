// The translation unit the libraries' precompiled headers are built from.
