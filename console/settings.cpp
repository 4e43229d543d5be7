// settings file lands here
