// The translation unit that the shared test header is precompiled from.
