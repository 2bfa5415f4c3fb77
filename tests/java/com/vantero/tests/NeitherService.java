package com.vantero.tests;

/** Has neither of the two service methods. */
public final class NeitherService {
    private NeitherService() {}
}
