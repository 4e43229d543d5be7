// application start-up lands here
