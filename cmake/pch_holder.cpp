// Holds the precompiled header that the one-source test programs share (cmake/VornakPch.cmake).
